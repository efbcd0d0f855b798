// The protocol object's pure rules: the speed-change divisor, the identity
// text and the image checksum.
#include "core/memstream.h"
#include "protocol/loaderprotocol.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct TDivisorCase {
    uint8_t Reply;
    int32_t CurrentRate;
    int32_t NewRate;
    uint8_t Divisor;
};

class ComputeDivisorTest : public ::testing::TestWithParam<TDivisorCase> {};

TEST_P(ComputeDivisorTest, MatchesTheLoadersArithmetic)
{
    const TDivisorCase& c = GetParam();
    EXPECT_EQ(TFlashFDTDevice::ComputeDivisor(c.Reply, c.CurrentRate, c.NewRate), c.Divisor)
        << "R=" << int(c.Reply) << " " << c.CurrentRate << " -> " << c.NewRate;
}

INSTANTIATE_TEST_SUITE_P(Rates, ComputeDivisorTest,
                         ::testing::Values(TDivisorCase{64, 9600, 57600, 10}, // 10.67 truncated
                                           TDivisorCase{77, 9600, 19200, 38}, // 38.5 truncated, not rounded
                                           TDivisorCase{3, 9600, 57600, 0},   // below 1
                                           TDivisorCase{0, 9600, 115200, 0}, TDivisorCase{100, 9600, 9600, 100},
                                           TDivisorCase{200, 9600, 115200, 16}, // 16.67
                                           // 15 x 9600/1152 falls a hair short of 125 in extended
                                           // precision; the single-precision rounding makes it 125.
                                           TDivisorCase{15, 9600, 1152, 125},
                                           // A slowdown overflows the byte: only the low 8 bits go.
                                           TDivisorCase{255, 115200, 9600, 0xF4}, // 3060 = 0xBF4
                                           TDivisorCase{64, 19200, 9600, 128}));

TEST(ComputeDivisor, RefusesRatesThatCannotBeDividedBy)
{
    EXPECT_THROW(TFlashFDTDevice::ComputeDivisor(64, 9600, 0), EFDTException);
    EXPECT_THROW(TFlashFDTDevice::ComputeDivisor(64, 0, 9600), EFDTException);
}

// ------------------------------------------------------------ identity text

struct TIdentityCase {
    const char* Text;
    uint16_t Seed;
    uint32_t Start;
    uint32_t Size;
    const char* Name;
};

class ParseIdentityTest : public ::testing::TestWithParam<TIdentityCase> {};

TEST_P(ParseIdentityTest, SplitsTheFields)
{
    const TIdentityCase& c = GetParam();
    std::string name = "previous";
    uint16_t seed = 1;
    uint32_t start = 1;
    uint32_t size = 1;
    TFlashFDTDevice::ParseIdentity(c.Text, name, seed, start, size);
    EXPECT_EQ(seed, c.Seed);
    EXPECT_EQ(start, c.Start);
    EXPECT_EQ(size, c.Size);
    EXPECT_EQ(name, c.Name);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseIdentityTest,
    ::testing::Values(TIdentityCase{"12:100:200:ABC\n", 0x12, 0x100, 0x200, "ABC"},
                      TIdentityCase{"4D58:800:7800:Morvex 4620\n", 0x4D58, 0x800, 0x7800, "Morvex 4620"},
                      TIdentityCase{"4d58:1000:1f000:x", 0x4D58, 0x1000, 0x1F000, "x"},
                      // Only the first line feed goes.
                      TIdentityCase{"1:2:3:A\nB\n", 1, 2, 3, "AB\n"},
                      // A long seed keeps its low 16 bits.
                      TIdentityCase{"12345:0:20000:P", 0x2345, 0, 0x20000, "P"},
                      // Fields are read up to their first non-hex character.
                      TIdentityCase{"12 :800x:7800 :name: with colon", 0x12, 0x800, 0x7800, "name: with colon"},
                      TIdentityCase{":::", 0, 0, 0, ""},
                      TIdentityCase{"FFFFFFFFF:FFFFFFFF:1:", 0xFFFF, 0xFFFFFFFF, 1, ""}));

TEST(ParseIdentity, FewerThanThreeSeparatorsIsABadIdentity)
{
    for (const char* text : {"", "4D58", "4D58:800", "4D58:800:7800", "\n\n\n"}) {
        std::string name;
        uint16_t seed = 0;
        uint32_t start = 0;
        uint32_t size = 0;
        try {
            TFlashFDTDevice::ParseIdentity(text, name, seed, start, size);
            ADD_FAILURE() << "accepted \"" << text << "\"";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Bad Device Identity String");
        }
    }
}

// ------------------------------------------------------------ image checksum

struct TChecksumCase {
    std::vector<uint8_t> Image;
    uint16_t Seed;
    bool Valid;
};

class CheckImageChecksumTest : public ::testing::TestWithParam<TChecksumCase> {};

TEST_P(CheckImageChecksumTest, ComparesTheLastWordWithSeedPlusBytes)
{
    const TChecksumCase& c = GetParam();
    TMemoryStream image;
    image.WriteBuffer(c.Image.data(), static_cast<int64_t>(c.Image.size()));
    // The check rewinds the image itself.
    EXPECT_EQ(TFlashFDTDevice::CheckImageChecksum(image, c.Seed), c.Valid);
}

std::vector<uint8_t> LongImage()
{
    // 300 bytes of 0xFF: 0xFF x 298 + seed 0x1234 wraps past 0xFFFF.
    std::vector<uint8_t> image(300, 0xFF);
    const uint16_t sum = static_cast<uint16_t>(0x1234 + 298 * 0xFF);
    image[298] = static_cast<uint8_t>(sum >> 8);
    image[299] = static_cast<uint8_t>(sum);
    return image;
}

INSTANTIATE_TEST_SUITE_P(
    Images, CheckImageChecksumTest,
    ::testing::Values(TChecksumCase{{0x01, 0x02, 0x03, 0x00, 0x06}, 0, true},
                      TChecksumCase{{0x01, 0x02, 0x03, 0x00, 0x06}, 1, false},
                      TChecksumCase{{0x01, 0x02, 0x03, 0x06, 0x00}, 0, false}, // word is big-endian
                      TChecksumCase{{0x12, 0x34}, 0x1234, true},               // seed alone
                      TChecksumCase{{0x12, 0x34}, 0x1235, false},
                      TChecksumCase{{0x05, 0x00, 0x05}, 0, true}, // only the first byte adds
                      TChecksumCase{{0x05, 0x00, 0x0A}, 0, false}, TChecksumCase{LongImage(), 0x1234, true},
                      TChecksumCase{LongImage(), 0x1233, false}));

TEST(CheckImageChecksum, ImageShorterThanTheChecksumWordFailsToRead)
{
    TMemoryStream empty;
    EXPECT_THROW(TFlashFDTDevice::CheckImageChecksum(empty, 0), EReadError);
    TMemoryStream one;
    const uint8_t byte = 0;
    one.WriteBuffer(&byte, 1);
    EXPECT_THROW(TFlashFDTDevice::CheckImageChecksum(one, 0), EReadError);
}

} // namespace
