#include "core/format.h"

#include <gtest/gtest.h>

TEST(Format, HexIsUpperCaseWithAndWithoutPadding)
{
    EXPECT_EQ(Format("No Match at %d (0x%X). File: %0.2x, Buf: %0.2x. ", 1, 1, 2, 0xff),
              "No Match at 1 (0x1). File: 02, Buf: FF. ");
    EXPECT_EQ(Format("0x%x", 0xabcU), "0xABC");
    EXPECT_EQ(Format("%0.2x", 0x1ab), "1AB");
}

TEST(Format, DecimalCharacterStringAndPercent)
{
    EXPECT_EQ(Format("Twofish: Invalid key size - %d", -8), "Twofish: Invalid key size - -8");
    EXPECT_EQ(Format("Cant convert non-hex character: %c", 'G'), "Cant convert non-hex character: G");
    EXPECT_EQ(Format("%s and 100%%", "abc"), "abc and 100%");
    EXPECT_EQ(Format("plain"), "plain");
}
