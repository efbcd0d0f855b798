// The text forms of the serial settings, both ways.
#include "serial/serialtext.h"

#include <gtest/gtest.h>

namespace {

struct TTextCase {
    const char* Text;
    int Value;
};

class BaudRateText : public ::testing::TestWithParam<TTextCase> {};
TEST_P(BaudRateText, FormsRoundTrip)
{
    EXPECT_EQ(BaudRateToText(TBaudRate(GetParam().Value)), GetParam().Text);
    EXPECT_EQ(TextToBaudRate(GetParam().Text), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(All, BaudRateText,
                         ::testing::Values(TTextCase{"Custom", brCustom}, TTextCase{"110", br110},
                                           TTextCase{"300", br300}, TTextCase{"600", br600}, TTextCase{"1200", br1200},
                                           TTextCase{"2400", br2400}, TTextCase{"4800", br4800},
                                           TTextCase{"9600", br9600}, TTextCase{"14400", br14400},
                                           TTextCase{"19200", br19200}, TTextCase{"38400", br38400},
                                           TTextCase{"56000", br56000}, TTextCase{"57600", br57600},
                                           TTextCase{"115200", br115200}, TTextCase{"128000", br128000},
                                           TTextCase{"256000", br256000}));

class OtherTexts : public ::testing::TestWithParam<TTextCase> {};
TEST_P(OtherTexts, ParityFormsRoundTrip)
{
    EXPECT_EQ(ParityToText(TParityBits(GetParam().Value)), GetParam().Text);
    EXPECT_EQ(TextToParity(GetParam().Text), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(Parity, OtherTexts,
                         ::testing::Values(TTextCase{"None", prNone}, TTextCase{"Odd", prOdd},
                                           TTextCase{"Even", prEven}, TTextCase{"Mark", prMark},
                                           TTextCase{"Space", prSpace}));

TEST(SettingTexts, SmallEnumerationsRoundTrip)
{
    const char* data[] = {"5", "6", "7", "8"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(DataBitsToText(TDataBits(i)), data[i]);
        EXPECT_EQ(TextToDataBits(data[i]), i);
    }
    const char* stop[] = {"1", "1.5", "2"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(StopBitsToText(TStopBits(i)), stop[i]);
        EXPECT_EQ(TextToStopBits(stop[i]), i);
    }
    const char* flow[] = {"Hardware", "Software", "None", "Custom"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(FlowControlToText(TFlowControl(i)), flow[i]);
        EXPECT_EQ(TextToFlowControl(flow[i]), i);
    }
}

TEST(SettingTexts, ParsingIgnoresCaseButNothingElse)
{
    EXPECT_EQ(TextToBaudRate("custom"), brCustom);
    EXPECT_EQ(TextToBaudRate("19200 "), br9600); // no trimming: the default
    EXPECT_EQ(TextToBaudRate(""), br9600);
    EXPECT_EQ(TextToStopBits("1.5"), sbOne5StopBits);
    EXPECT_EQ(TextToStopBits("1,5"), sbOneStopBit);
    EXPECT_EQ(TextToParity("none"), prNone);
    EXPECT_EQ(TextToParity("sPaCe"), prSpace);
    EXPECT_EQ(TextToParity(""), prNone);
    EXPECT_EQ(TextToFlowControl("none"), fcNone);
    EXPECT_EQ(TextToFlowControl("HARDWARE"), fcHardware);
    EXPECT_EQ(TextToFlowControl(""), fcCustom);
    EXPECT_EQ(TextToDataBits("9"), dbEight);
}

} // namespace
