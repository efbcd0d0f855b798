// Hexadecimal text and byte order.
#include <gtest/gtest.h>

#include <cstring>

#include "core/exceptions.h"
#include "protocol/hex.h"
#include "protocol/byteorder.h"

namespace {

struct THexCase {
    const char* Text;
    uint32_t Value;
};

class HexToIntTest : public testing::TestWithParam<THexCase> {};

TEST_P(HexToIntTest, ConvertsLeadingDigits)
{
    EXPECT_EQ(HexToInt(GetParam().Text), GetParam().Value) << "text \"" << GetParam().Text << "\"";
}

INSTANTIATE_TEST_SUITE_P(Texts, HexToIntTest,
                         testing::Values(THexCase{"", 0}, THexCase{"1f", 31}, THexCase{"1F", 31},
                                         THexCase{"12G4", 0x12}, THexCase{"FFFFFFFFF", 0xFFFFFFFFu},
                                         THexCase{"123456789", 0x23456789u}, THexCase{"aBcDeF", 0xABCDEF},
                                         THexCase{"800 ", 0x800}, THexCase{"G12", 0}, THexCase{" 12", 0},
                                         THexCase{"4D58:800", 0x4D58}, THexCase{"0000000A", 10}, THexCase{"-1", 0},
                                         THexCase{"7fffffff", 0x7FFFFFFF}));

struct TDigitCase {
    char Digit;
    int Value;
};

class HexDigitTest : public testing::TestWithParam<TDigitCase> {};

TEST_P(HexDigitTest, IsDigitWithItsValue)
{
    EXPECT_TRUE(IsHexChar(GetParam().Digit));
    EXPECT_EQ(HexCharToInt(GetParam().Digit), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Digits, HexDigitTest,
                         testing::Values(TDigitCase{'0', 0}, TDigitCase{'9', 9}, TDigitCase{'A', 10},
                                         TDigitCase{'F', 15}, TDigitCase{'a', 10}, TDigitCase{'f', 15},
                                         TDigitCase{'7', 7}, TDigitCase{'c', 12}));

class NonHexDigitTest : public testing::TestWithParam<char> {};

TEST_P(NonHexDigitTest, IsRefusedWithItsCharacterInTheMessage)
{
    const char c = GetParam();
    EXPECT_FALSE(IsHexChar(c));
    try {
        HexCharToInt(c);
        FAIL() << "no exception for character " << int(c);
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), std::string("Cant convert non-hex character: ") + c);
    }
}

// The neighbours of each digit range in the character set, and the usual suspects.
INSTANTIATE_TEST_SUITE_P(Characters, NonHexDigitTest,
                         testing::Values('G', 'g', '/', ':', '@', '`', ' ', 'x', 'Z', '\n'));

TEST(ByteOrder, SwapWordExchangesTheTwoBytes)
{
    EXPECT_EQ(SwapWord(0x1234), 0x3412);
    EXPECT_EQ(SwapWord(0x00FF), 0xFF00);
    EXPECT_EQ(SwapWord(SwapWord(0xBEEF)), 0xBEEF);
}

TEST(ByteOrder, SwapLongReversesTheFourBytes)
{
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapLong(0x000000FFu), 0xFF000000u);
    EXPECT_EQ(SwapLong(0x0000FF00u), 0x00FF0000u);
    EXPECT_EQ(SwapLong(0x80000001u), 0x01000080u);
}

TEST(ByteOrder, SwappedLongInMemoryOrderIsMostSignificantFirst)
{
    // The way the protocol puts a length on the line: 2048 travels as 00 00 08 00.
    const uint32_t onLine = SwapLong(2048);
    uint8_t bytes[4];
    std::memcpy(bytes, &onLine, sizeof bytes); // this program runs on little-endian PCs
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0x08);
    EXPECT_EQ(bytes[3], 0x00);
}

} // namespace
