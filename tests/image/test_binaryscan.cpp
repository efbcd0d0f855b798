// Neither the pass phrase nor any piece of the plain image may stand in the
// built program's bytes; the enciphered record must.
#include "image/storedimage.h"
#include "imagetest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_set>

namespace {
constexpr size_t kWindow = 64;

std::string_view View(const Bytes& bytes, size_t at, size_t count)
{
    return {reinterpret_cast<const char*>(bytes.data()) + at, count};
}

bool Contains(const Bytes& haystack, std::string_view needle)
{
    const std::string_view all = View(haystack, 0, haystack.size());
    return std::search(all.begin(), all.end(), std::boyer_moore_searcher(needle.begin(), needle.end())) != all.end();
}

// Offset in haystack of the first 64-byte window that also stands anywhere
// in the image. Windows of one repeated byte (erased flash) are skipped:
// such runs are no secret and occur in any binary.
std::optional<size_t> FindImageWindow(const Bytes& haystack, const Bytes& image)
{
    std::unordered_set<std::string_view> windows;
    for (size_t at = 0; at + kWindow <= image.size(); ++at) {
        const auto window = View(image, at, kWindow);
        if (window.find_first_not_of(window[0]) != std::string_view::npos) windows.insert(window);
    }
    for (size_t at = 0; at + kWindow <= haystack.size(); ++at)
        if (windows.count(View(haystack, at, kWindow))) return at;
    return std::nullopt;
}

class BinaryScan : public testing::Test {
protected:
    const Bytes program = ReadFileBytes(MORVEX_SCANNED_PROGRAM);
    const Bytes plain = ReadFileBytes(MORVEX_PLAIN_IMAGE_FILE);
};
} // namespace

TEST_F(BinaryScan, ProgramHoldsTheEncipheredRecord)
{
    ASSERT_GT(program.size(), 100000u) << MORVEX_SCANNED_PROGRAM;
    EXPECT_TRUE(
        Contains(program, View(Bytes(StoredImage.Data, StoredImage.Data + StoredImage.Length), 0, StoredImage.Length)));
}

TEST_F(BinaryScan, ProgramHoldsNoPassPhrase)
{
    const std::string phrase = GetPassPhrase();
    EXPECT_FALSE(Contains(program, phrase));
    std::string reversed(phrase.rbegin(), phrase.rend());
    EXPECT_FALSE(Contains(program, reversed));
}

TEST_F(BinaryScan, ProgramHoldsNoPieceOfThePlainImage)
{
    ASSERT_GE(plain.size(), kWindow);
    const auto found = FindImageWindow(program, plain);
    EXPECT_FALSE(found.has_value()) << "plain image bytes at offset " << *found;
}

TEST_F(BinaryScan, ScanFindsAPlantedWindow)
{
    Bytes planted = program;
    const size_t at = planted.size() / 2;
    std::copy(plain.begin() + 0x900, plain.begin() + 0x900 + kWindow, planted.begin() + static_cast<long>(at));
    const auto found = FindImageWindow(planted, plain);
    ASSERT_TRUE(found.has_value());
    EXPECT_LE(*found, at);
}
