// Fault texts of the command line, the unit's divisor and its model view.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tools/unitsim/unitsim.h"

namespace {

struct TFaultTextCase {
    const char* Text;
    TFaultKind Kind;
    TFramePhase Phase;
    int Index;
    std::vector<uint8_t> Bytes;
    std::optional<uint32_t> Value;
    const char* Canonical; // FaultToText of the parsed fault
};

class FaultTextTest : public testing::TestWithParam<TFaultTextCase> {};

TEST_P(FaultTextTest, ParsesAndPrintsBack)
{
    const TFaultTextCase& c = GetParam();
    const TUnitFault fault = ParseFault(c.Text);
    EXPECT_EQ(fault.Kind, c.Kind);
    EXPECT_EQ(fault.Phase, c.Phase);
    EXPECT_EQ(fault.Index, c.Index);
    EXPECT_EQ(fault.Bytes, c.Bytes);
    EXPECT_EQ(fault.Value, c.Value);
    EXPECT_EQ(FaultToText(fault), c.Canonical);
    EXPECT_EQ(FaultToText(ParseFault(FaultToText(fault))), c.Canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FaultTextTest,
    testing::Values(
        TFaultTextCase{"silence@connect", fkSilence, fpConnect, -1, {}, std::nullopt, "silence@connect"},
        TFaultTextCase{"wrong@erase=%", fkWrongReply, fpErase, -1, {'%'}, std::nullopt, "wrong@erase=0x25"},
        TFaultTextCase{"wrong@program-close=0x22",
                       fkWrongReply,
                       fpProgramClose,
                       -1,
                       {0x22},
                       std::nullopt,
                       "wrong@program-close=0x22"},
        TFaultTextCase{"wrong@connect#3=0x5377aB",
                       fkWrongReply,
                       fpConnect,
                       3,
                       {0x53, 0x77, 0xAB},
                       std::nullopt,
                       "wrong@connect#3=0x5377AB"},
        TFaultTextCase{"short@speed-echo", fkShortReply, fpSpeedEcho, -1, {}, std::nullopt, "short@speed-echo"},
        TFaultTextCase{"noise@identity#0=5", fkNoise, fpIdentity, 0, {}, 5u, "noise@identity#0=5"},
        TFaultTextCase{"slow@read-block#12=0x3E8", fkSlowReply, fpReadBlock, 12, {}, 1000u, "slow@read-block#12=1000"},
        TFaultTextCase{"hangup@reset", fkHangUp, fpReset, -1, {}, std::nullopt, "hangup@reset"},
        TFaultTextCase{
            "hangup@program-block#7", fkHangUp, fpProgramBlock, 7, {}, std::nullopt, "hangup@program-block#7"},
        TFaultTextCase{"wrong-start@identity", fkWrongStart, fpIdentity, -1, {}, std::nullopt, "wrong-start@identity"},
        TFaultTextCase{
            "wrong-size@identity=131072", fkWrongSize, fpIdentity, -1, {}, 131072u, "wrong-size@identity=131072"},
        TFaultTextCase{"silence@speed-reply", fkSilence, fpSpeedReply, -1, {}, std::nullopt, "silence@speed-reply"},
        TFaultTextCase{
            "wrong@speed-echo:last", fkWrongReply, fpSpeedEcho, -1, {}, std::nullopt, "wrong@speed-echo:last"},
        TFaultTextCase{"wrong@identity#2:5", fkWrongReply, fpIdentity, 2, {}, std::nullopt, "wrong@identity#2:5"},
        TFaultTextCase{"wrong@identity:0", fkWrongReply, fpIdentity, -1, {}, std::nullopt, "wrong@identity"}));

class BadFaultTextTest : public testing::TestWithParam<const char*> {};

TEST_P(BadFaultTextTest, IsRefusedWithAMessage)
{
    try {
        ParseFault(GetParam());
        FAIL() << "accepted \"" << GetParam() << "\"";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find('"'), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, BadFaultTextTest,
                         testing::Values("silence", "loud@connect", "silence@nowhere", "silence@erase#x",
                                         "silence@erase#", "silence@erase=3", "noise@identity=ten",
                                         "wrong@erase=", "wrong@erase=0x2", "wrong@erase=0xZZ",
                                         "slow@identity=99999999999", "@erase", "silence@", "silence@erase:1",
                                         "wrong@erase:1=%", "wrong@erase:x", "wrong@erase:"));

struct TDivisorCase {
    uint8_t Reply;
    uint32_t From;
    uint32_t To;
    uint8_t Divisor;
};

class DivisorTest : public testing::TestWithParam<TDivisorCase> {};

TEST_P(DivisorTest, TruncatesTheSinglePrecisionProduct)
{
    const TDivisorCase& c = GetParam();
    EXPECT_EQ(ExpectedDivisor(c.Reply, c.From, c.To), c.Divisor);
}

INSTANTIATE_TEST_SUITE_P(Rates, DivisorTest,
                         testing::Values(TDivisorCase{64, 9600, 57600, 10}, TDivisorCase{77, 9600, 19200, 38},
                                         TDivisorCase{3, 9600, 57600, 0}, TDivisorCase{192, 9600, 57600, 32},
                                         TDivisorCase{192, 9600, 19200, 96}, TDivisorCase{192, 9600, 115200, 16},
                                         TDivisorCase{255, 115200, 9600, 0xF4}, // 3060: low 8 bits
                                         TDivisorCase{192, 4800, 19200, 48}));

TEST(Models, AreasRatesAndCommandsByFamily)
{
    EXPECT_EQ(ModelFlashStart(0), 0u);
    EXPECT_EQ(ModelFlashSize(0), 0x20000u);
    EXPECT_EQ(ModelProgramRate(0), 115200u);
    for (const uint32_t type : {1u, 2u}) {
        EXPECT_EQ(ModelFlashSize(type), 0x4800u);
        EXPECT_EQ(ModelProgramRate(type), 19200u);
    }
    for (const uint32_t type : {3u, 4u, 10u}) {
        EXPECT_EQ(ModelFlashStart(type), 0x800u);
        EXPECT_EQ(ModelFlashSize(type), 0x7800u);
    }
    for (const uint32_t type : {5u, 6u, 7u, 8u, 9u, 11u, 12u, 13u, 14u}) {
        EXPECT_EQ(ModelFlashStart(type), 0x1000u);
        EXPECT_EQ(ModelFlashSize(type), 0x1F000u);
        EXPECT_EQ(ModelProgramRate(type), 57600u);
    }
    EXPECT_TRUE(ModelUserCommand(14).empty());
    EXPECT_EQ(ModelUserCommand(13).size(), 8u);
    EXPECT_THROW(ModelName(15), std::out_of_range);
    TUnitSimOptions options;
    options.UnitType = 15;
    EXPECT_THROW(TUnitSim sim(options), std::exception);
}

} // namespace
