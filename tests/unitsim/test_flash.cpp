// The loader's flash commands: erase, program, read and their frames.
#include <gtest/gtest.h>

#include <chrono>

#include "hostline.h"
#include "simframes.h"

namespace {

const TBytes kCommand4620 = Concat({{0x02}, Bytes("PF1010"), {0x03}});

// A 4620 unit with the link up, and the host's side of it.
class LoaderTest : public testing::Test {
protected:
    void Start(TUnitSimOptions options = {})
    {
        FSim = std::make_unique<TUnitSim>(options);
        FHost = std::make_unique<THostLine>(FSim->PortPath());
        ASSERT_TRUE(FHost->LinkUp(kCommand4620, 19200));
    }

    uint8_t Erase(uint32_t start, uint32_t length, int timeoutMs = 1000)
    {
        FHost->SendScrambled(Bytes("ERAS"));
        const TBytes status = FHost->TransactScrambled(Concat({Field(start), Field(length)}), 1, timeoutMs);
        return status.empty() ? 0xEE : status[0];
    }

    // Programs the bytes at start as the programmer does; returns each status byte.
    TBytes Program(uint32_t start, const TBytes& image)
    {
        TBytes statuses;
        FHost->SendScrambled(Concat({Bytes("PROG"), Field(start), Field(static_cast<uint32_t>(image.size()))}));
        for (size_t done = 0; done < image.size();) {
            const size_t n = std::min<size_t>(128, image.size() - done);
            const TBytes status = FHost->TransactScrambled(TBytes(image.begin() + done, image.begin() + done + n), 1);
            if (status.empty()) return statuses;
            statuses.push_back(status[0]);
            if (status[0] != 0x00) return statuses;
            done += n;
            if (done < image.size()) FHost->SendScrambled({0x00});
        }
        const TBytes last = FHost->TransactScrambled({0x00}, 1);
        statuses.insert(statuses.end(), last.begin(), last.end());
        return statuses;
    }

    TBytes Read(uint32_t start, uint32_t length)
    {
        TBytes bytes;
        FHost->SendScrambled(Bytes("READ"));
        size_t n = std::min<uint32_t>(length, 32);
        TBytes block = FHost->TransactScrambled(Concat({Field(start), Field(length)}), n);
        while (block.size() == n && n > 0) {
            bytes.insert(bytes.end(), block.begin(), block.end());
            n = std::min<size_t>(length - bytes.size(), 32);
            if (n == 0) break;
            block = FHost->TransactScrambled({0x00}, n);
        }
        FHost->SendScrambled({0x00});
        return bytes;
    }

    bool Ping()
    {
        const TBytes identity = FHost->TransactScrambled(Bytes("IDEN"), 40);
        return identity.size() == 40 && identity[0] == '4' && identity[4] == ':';
    }

    std::unique_ptr<TUnitSim> FSim;
    std::unique_ptr<THostLine> FHost;
};

TBytes Pattern(size_t count, uint8_t seed)
{
    TBytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

TEST_F(LoaderTest, EraseProgramReadRoundTrip)
{
    Start();
    FSim->LoadFlash(0, TBytes(0x10000, 0x5A)); // old firmware everywhere
    ASSERT_EQ(Erase(0x800, 0x7800), '$');
    const TBytes flash = FSim->Flash();
    EXPECT_EQ(flash[0x7FF], 0x5A);
    EXPECT_EQ(flash[0x800], 0xFF);
    EXPECT_EQ(flash[0x7FFF], 0xFF);
    EXPECT_EQ(flash[0x8000], 0x5A);
    ASSERT_TRUE(Ping());

    const TBytes image = Pattern(256, 3);
    EXPECT_EQ(Program(0x800, image), (TBytes{0x00, 0x00, '#'}));
    ASSERT_TRUE(Ping());
    const TBytes after = FSim->Flash();
    EXPECT_EQ(TBytes(after.begin() + 0x800, after.begin() + 0x900), image);
    EXPECT_EQ(after[0x900], 0xFF);

    EXPECT_EQ(Read(0x800, 70), TBytes(image.begin(), image.begin() + 70));
    EXPECT_TRUE(Ping());
    EXPECT_EQ(CountFrames(*FSim, "program block 0"), 1);
    EXPECT_EQ(CountFrames(*FSim, "program block 1"), 1);
    EXPECT_EQ(CountFrames(*FSim, "block acknowledge"), 1);
    EXPECT_EQ(CountFrames(*FSim, "closing acknowledge"), 1);
    ASSERT_TRUE(FSim->WaitForFrame("read acknowledge", 1000));
    EXPECT_EQ(FindFrame(*FSim, "read block 2")->Plain.size(), 6u);
}

TEST_F(LoaderTest, ProgramFramesCarryStartAndSizeMostSignificantFirst)
{
    Start();
    ASSERT_EQ(Program(0x800, TBytes(256, 0x11)).back(), '#');
    EXPECT_EQ(FindFrame(*FSim, "program start")->Plain, (TBytes{0x00, 0x00, 0x08, 0x00}));
    EXPECT_EQ(FindFrame(*FSim, "program size")->Plain, (TBytes{0x00, 0x00, 0x01, 0x00}));
}

TEST_F(LoaderTest, ReadOfSeventyBytesComesInBlocksOfThirtyTwoThirtyTwoSix)
{
    Start();
    FSim->LoadFlash(0x1000, Pattern(70, 9));
    EXPECT_EQ(Read(0x1000, 70), Pattern(70, 9));
    ASSERT_TRUE(Ping());
    EXPECT_EQ(FindFrame(*FSim, "read block 0")->Plain.size(), 32u);
    EXPECT_EQ(FindFrame(*FSim, "read block 1")->Plain.size(), 32u);
    EXPECT_EQ(FindFrame(*FSim, "read block 2")->Plain.size(), 6u);
    EXPECT_EQ(CountFrames(*FSim, "read acknowledge"), 3);
}

TEST_F(LoaderTest, ProgrammingOnlyClearsBits)
{
    Start();
    FSim->LoadFlash(0x800, {0xF0, 0x0F, 0xFF});
    ASSERT_EQ(Program(0x800, {0x3C, 0x3C, 0x3C}).back(), '#');
    const TBytes flash = FSim->Flash();
    EXPECT_EQ(flash[0x800], 0x30);
    EXPECT_EQ(flash[0x801], 0x0C);
    EXPECT_EQ(flash[0x802], 0x3C);
}

TEST_F(LoaderTest, EraseOutsideTheFlashFailsInTheDevice)
{
    Start();
    EXPECT_EQ(Erase(0x1F000, 0x2000), '%');
    EXPECT_TRUE(HasEventContaining(*FSim, "outside the flash"));
    EXPECT_TRUE(Ping());
}

TEST_F(LoaderTest, ProgramOutsideTheFlashIsRefusedAtTheFirstBlock)
{
    Start();
    EXPECT_EQ(Program(0x1FF80, TBytes(256, 0)), TBytes{'%'});
    EXPECT_EQ(FSim->Flash()[0x1FF80], 0xFF);
    EXPECT_TRUE(Ping());
}

TEST_F(LoaderTest, EmptyProgramAndEmptyReadKeepTheLinkInStep)
{
    Start();
    EXPECT_EQ(Program(0x800, {}), TBytes{'#'});
    EXPECT_TRUE(Read(0x800, 0).empty());
    EXPECT_TRUE(Ping());
    EXPECT_EQ(CountFrames(*FSim, "read acknowledge"), 1);
}

TEST_F(LoaderTest, EraseTakesItsTime)
{
    TUnitSimOptions options;
    options.EraseMs = 300;
    Start(options);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(Erase(0x800, 0x7800), '$');
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
}

TEST_F(LoaderTest, PacedRepliesTakeTheirLineTime)
{
    TUnitSimOptions options;
    options.Paced = true;
    Start(options);
    // IDEN in and 40 bytes out at 19200 bit/s, 10 bits a byte: at least 22.9 ms.
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(Ping());
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::microseconds(44 * 10 * 1000000 / 19200));
}

TEST_F(LoaderTest, PacingCountsStopBits)
{
    TUnitSimOptions options;
    options.Paced = true;
    Start(options);
    FHost->SetTwoStopBits(true); // 11 bits a byte
    const auto begin = std::chrono::steady_clock::now();
    FHost->SendScrambled(Bytes("READ"));
    const TBytes block = FHost->TransactScrambled(Concat({Field(0x800), Field(32)}), 32, 1000);
    ASSERT_EQ(block, TBytes(32, 0xFF));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::microseconds(44 * 11 * 1000000 / 19200));
}

} // namespace
