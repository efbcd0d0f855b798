// Letter case and line ends of the system's texts.
#include "core/text.h"

#include <gtest/gtest.h>

namespace {
using Lines = std::vector<std::string>;

TEST(TextCase, OnlyAsciiLettersChange)
{
    EXPECT_EQ(UpperAscii("com10 /dev/ttyUSB0 \xc3\xa4"), "COM10 /DEV/TTYUSB0 \xc3\xa4");
    EXPECT_EQ(LowerAscii("YES No [@]^"), "yes no [@]^");
    EXPECT_TRUE(SameTextIgnoringCase("None", "NONE"));
    EXPECT_FALSE(SameTextIgnoringCase("Odd", "Odd "));
    EXPECT_FALSE(SameTextIgnoringCase("@", "`")); // one apart from 'A' and 'a' in the table, but no letters
}

struct TLineCase {
    std::string Text;
    Lines Split;
    std::string Lf;
};

class LineEnds : public ::testing::TestWithParam<TLineCase> {};

TEST_P(LineEnds, SplitAndNormalised)
{
    EXPECT_EQ(SplitLines(GetParam().Text), GetParam().Split);
    EXPECT_EQ(WithLfLineEnds(GetParam().Text), GetParam().Lf);
}

INSTANTIATE_TEST_SUITE_P(Texts, LineEnds,
                         ::testing::Values(TLineCase{"", {}, ""}, TLineCase{"one", {"one"}, "one"},
                                           TLineCase{"a\r\nb\rc\nd", {"a", "b", "c", "d"}, "a\nb\nc\nd"},
                                           TLineCase{"a\r\n", {"a"}, "a\n"}, TLineCase{"a\r", {"a"}, "a\n"},
                                           TLineCase{"\n\r\n\r", {"", "", ""}, "\n\n\n"},
                                           TLineCase{"a\n\rb", {"a", "", "b"}, "a\n\nb"}));
}
