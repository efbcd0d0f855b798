#include "core/memstream.h"
#include "core/exceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {
std::vector<std::vector<uint8_t>> released;
void recordRelease(const uint8_t* block, size_t capacity) { released.emplace_back(block, block + capacity); }

struct ReleaseWatch {
    ReleaseWatch()
    {
        released.clear();
        TMemoryStream::SetReleaseObserver(recordRelease);
    }
    ~ReleaseWatch() { TMemoryStream::SetReleaseObserver(nullptr); }
};

bool allZero(const std::vector<uint8_t>& block)
{
    return std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; });
}
} // namespace

TEST(MemoryStream, WriteReadSeekAndSize)
{
    TMemoryStream s;
    const uint8_t data[] = {1, 2, 3, 4, 5};
    s.Write(data, 5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Position(), 5);
    s.SetPosition(1);
    uint8_t out[10] = {};
    EXPECT_EQ(s.Read(out, 10), 4);
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[3], 5);
    EXPECT_EQ(s.Seek(-2, TSeekOrigin::soEnd), 3);
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2);
    EXPECT_EQ(s.Read(out, 1), 0);
    s.SetPosition(0);
    EXPECT_THROW(s.ReadBuffer(out, 3), EReadError);
}

TEST(MemoryStream, WritingPastTheEndGrowsWithZeros)
{
    TMemoryStream s;
    s.SetPosition(4);
    const uint8_t b = 0xAA;
    s.Write(&b, 1);
    ASSERT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Memory()[0], 0);
    EXPECT_EQ(s.Memory()[4], 0xAA);
}

TEST(MemoryStream, CopyFromWholeAndPart)
{
    TMemoryStream a, b;
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    a.Write(bytes.data(), 300);
    EXPECT_EQ(b.CopyFrom(a, 0), 300);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), b.Memory()));
    a.SetPosition(250);
    TMemoryStream c;
    EXPECT_EQ(c.CopyFrom(a, 50), 50);
    EXPECT_EQ(c.Memory()[0], 250);
    a.SetPosition(290);
    EXPECT_THROW(c.CopyFrom(a, 20), EReadError);
}

TEST(MemoryStream, EveryReleasedBlockIsZero)
{
    ReleaseWatch watch;
    {
        TMemoryStream s;
        std::vector<uint8_t> secret(40000, 0x5A);
        s.Write(secret.data(), 100);   // first block
        s.Write(secret.data(), 20000); // grows: first block released
        s.SetSize(50);                 // shrink keeps the block
        s.Write(secret.data(), 40000); // grows again
    }                                  // destruction releases the last
    ASSERT_GE(released.size(), 3u);
    for (const auto& block : released) EXPECT_TRUE(allZero(block));
}

TEST(MemoryStream, ClearReleasesAndShrinkZeroesTheTail)
{
    ReleaseWatch watch;
    TMemoryStream s;
    std::vector<uint8_t> secret(64, 0x77);
    s.Write(secret.data(), 64);
    s.SetSize(10);
    EXPECT_TRUE(std::all_of(s.Memory() + 10, s.Memory() + 64, [](uint8_t b) { return b == 0; }));
    s.Clear();
    ASSERT_EQ(released.size(), 1u);
    EXPECT_TRUE(allZero(released[0]));
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Memory(), nullptr);
}
