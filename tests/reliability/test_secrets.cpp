// What must never stay behind: after a run, however it ended, every block
// of memory that held the image or the flash contents was wiped before it
// went back to the allocator. While a run is under way, nobody else can
// open its port.
//
// The cipher's key storage lives inside the run's deciphering stream, which
// the run never lets out; that it is blank after every Decrypt, whatever
// the mode and however the call ends, is checked where the stream is
// (tests/image).
#include "runfixture.h"

#include "tests/support/processprobe.h"

#include "core/memstream.h"

#include <algorithm>
#include <mutex>

namespace {

// Every block a memory stream releases, as it looks just before the
// allocator takes it back.
struct TReleasedBlocks {
    std::mutex Lock;
    size_t Count = 0;
    size_t Bytes = 0;
    size_t LargestBlock = 0;
    size_t BlocksWithData = 0; // blocks with any byte not wiped

    static TReleasedBlocks& Instance()
    {
        static TReleasedBlocks blocks;
        return blocks;
    }
    static void Observe(const uint8_t* block, size_t capacity)
    {
        TReleasedBlocks& self = Instance();
        const bool wiped = std::all_of(block, block + capacity, [](uint8_t b) { return b == 0; });
        std::lock_guard<std::mutex> lock(self.Lock);
        ++self.Count;
        self.Bytes += capacity;
        self.LargestBlock = std::max(self.LargestBlock, capacity);
        if (!wiped) ++self.BlocksWithData;
    }
    void Reset()
    {
        std::lock_guard<std::mutex> lock(Lock);
        Count = Bytes = LargestBlock = BlocksWithData = 0;
    }
};

struct TEndOfRun {
    const char* Name;
    bool Succeeds;
    std::vector<TUnitFault> Faults;
};

std::ostream& operator<<(std::ostream& out, const TEndOfRun& e) { return out << e.Name; }

const TEndOfRun Ends[] = {
    {"Success", true, {}},
    {"FailedErase", false, {TUnitFault{fkWrongReply, fpErase, 0, {'%'}, std::nullopt}}},
    {"FailedProgramBlock", false, {TUnitFault{fkWrongReply, fpProgramBlock, 100, {}, std::nullopt}}},
    {"FailedReadBlock", false, {TUnitFault{fkSilence, fpReadBlock, 300, {}, std::nullopt}}},
    {"FailedComparison", false, {TUnitFault{fkWrongReply, fpReadBlock, 700, {}, std::nullopt}}},
    {"HungUpWhileReading", false, {TUnitFault{fkHangUp, fpReadBlock, 10, {}, std::nullopt}}},
};

class Secrets : public RunTest, public ::testing::WithParamInterface<TEndOfRun> {
protected:
    void SetUp() override
    {
        // The record is built (and its building stream released) before
        // counting starts: the figures are the run's alone, whichever test
        // happens to build the record first.
        (void)DemoRecord();
        TReleasedBlocks::Instance().Reset();
        TMemoryStream::SetReleaseObserver(&TReleasedBlocks::Observe);
    }
    void TearDown() override
    {
        TMemoryStream::SetReleaseObserver(nullptr);
        RunTest::TearDown();
    }
};

TEST_P(Secrets, EveryBlockReleasedDuringTheRunIsWiped)
{
    TUnitSimOptions options = UnitOptions();
    options.Faults = GetParam().Faults;
    StartUnit(options);
    const TRunOutcome outcome = RunOnce();
    EXPECT_EQ(outcome.Succeeded, GetParam().Succeeds) << outcome.Message;
    // Every one of these runs deciphered the image and got past its digest.
    EXPECT_NE(std::find(outcome.Steps.begin(), outcome.Steps.end(), TRunStep::Check), outcome.Steps.end());

    TReleasedBlocks& released = TReleasedBlocks::Instance();
    std::lock_guard<std::mutex> lock(released.Lock);
    std::printf("[ figures  ] %s: %zu blocks (%zu bytes) released, largest %zu bytes, %zu not wiped\n", GetParam().Name,
                released.Count, released.Bytes, released.LargestBlock, released.BlocksWithData);
    EXPECT_EQ(released.BlocksWithData, 0u);
    // The deciphered stream held the whole image: its block was among them.
    EXPECT_GE(released.LargestBlock, DemoPlainImage().size());
}

INSTANTIATE_TEST_SUITE_P(Reliability, Secrets, ::testing::ValuesIn(Ends),
                         [](const ::testing::TestParamInfo<TEndOfRun>& info) { return info.param.Name; });

class ExclusivePort : public RunTest {};

TEST_F(ExclusivePort, NobodyElseOpensThePortWhileARunIsUnderWay)
{
    StartUnit(UnitOptions());
    // The port's failure, without the advice that may follow it on further
    // lines: the refusal is the point here, not its wording.
    auto refusal = [](const std::string& failure) { return failure.substr(0, failure.find('\n')); };
    std::vector<std::string> steps, here, elsewhere;
    OperatorFor().OnStatus = [&](const std::string& step) {
        steps.push_back(step);
        here.push_back(refusal(OpenExclusively(Unit->Terminal())));
        elsewhere.push_back(refusal(OpenFromSecondProgram(Unit->Terminal())));
    };
    const TRunOutcome outcome = RunOnce();
    EXPECT_TRUE(outcome.Succeeded) << outcome.Message;
    EXPECT_EQ(steps, (std::vector<std::string>{"Connecting...", "Erasing FLASH...", "Programming FLASH...",
                                               "Reading contents of FLASH..."}));
    const std::string busy = "Unable to open com port (win error code: 16)";
    EXPECT_EQ(here, std::vector<std::string>(steps.size(), busy));
    EXPECT_EQ(elsewhere, std::vector<std::string>(steps.size(), busy));
    // And once the run is over, both can.
    Unit->WaitForHostToLetGo();
    ExpectPortReleased();
    EXPECT_EQ(OpenFromSecondProgram(Unit->Terminal()), "");
}

}
