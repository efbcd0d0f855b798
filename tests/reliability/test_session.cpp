// Many runs in one program session, programming, failing and cancelling in
// turn, leave nothing behind: no descriptor, thread, object, timer or heap
// memory more after twenty runs than before them. The figures are printed.
#include "tests/support/guirunfixture.h"

#include "heapcounter.h"
#include "objectcensus.h"
#include "tests/support/processprobe.h"

#include <QMessageBox>
#include <cstdio>

namespace {

struct TSessionRun {
    const char* Name;
    std::vector<TUnitFault> Faults;
    bool BootOnly; // the firmware ignores its command
    int AutoReset; // connect words before the "operator" resets the unit (-1: never)
    TOperatorAnswers Script;
    const char* LastBox; // the box that ends the run
};

TOperatorAnswers Script(bool wizardNext, bool settingsOk, bool bootYes, bool cancelPrompt)
{
    TOperatorAnswers script;
    script.WizardNext = wizardNext;
    script.SettingsOk = settingsOk;
    script.BootYes = bootYes;
    script.CancelPrompt = cancelPrompt;
    return script;
}

TUnitFault At(TFaultKind kind, TFramePhase phase, int index, std::vector<uint8_t> bytes = {})
{
    return TUnitFault{kind, phase, index, std::move(bytes), std::nullopt};
}

const char* const Programmed = "info:Unit Successfully Programmed!";
const char* const Cancelled = "error:Connect Cancelled by User.";
const TOperatorAnswers Standard = Script(true, true, false, false);

// One of each kind of run.
const std::vector<TSessionRun> Kinds = {
    {"programs", {}, false, 0, Standard, Programmed},
    {"erase fails", {At(fkWrongReply, fpErase, 0, {'%'})}, false, 0, Standard, "error:Erase Failed: Device Failure."},
    {"wizard cancelled", {}, false, 0, Script(false, true, false, false), Cancelled},
    {"setup cancelled", {}, false, 0, Script(true, false, false, false), Cancelled},
    {"boot method declined", {}, true, 0, Standard, Cancelled},
    {"checksum fails",
     {At(fkWrongReply, fpIdentity, 2)},
     false,
     0,
     Standard,
     "error:Flash and Image Checksums don't match."},
    {"unplugged while programming",
     {At(fkHangUp, fpProgramBlock, 100)},
     false,
     0,
     Standard,
     "error:Write Failed: No reply."},
    {"reset prompt cancelled", {}, true, -1, Script(true, true, true, true), Cancelled},
    {"verify fails",
     {At(fkWrongReply, fpReadBlock, 700)},
     false,
     0,
     Standard,
     "error:Verify:\nFound 1 discrepencies starting at address 0x5780."},
    {"programs by the boot method", {}, true, 2, Script(true, true, true, false), Programmed},
    {"identity silent", {At(fkSilence, fpIdentity, 2)}, false, 0, Standard, "error:No Reply Within Time Out Period."},
    {"unplugged while reading", {At(fkHangUp, fpReadBlock, 10)}, false, 0, Standard, "error:Read Failed: No reply."},
};

struct TFigures {
    int Descriptors;
    int Threads;
    TObjectCount Objects;
    size_t Heap;
    size_t Resident;
};

TFigures Measure()
{
    return {CountOpenDescriptors(), CountThreads(), CountObjects(), LiveHeapBytes(), ResidentBytes()};
}

void Print(const char* when, const TFigures& f)
{
    std::printf("[ figures  ] %-22s descriptors %d, threads %d, objects %zu, timers %zu (%zu running, %zu registered), "
                "heap %zu bytes, resident %zu KiB\n",
                when, f.Descriptors, f.Threads, f.Objects.Objects, f.Objects.Timers, f.Objects.ActiveTimers,
                f.Objects.RegisteredTimers, f.Heap, f.Resident / 1024);
}

// Heap growth allowed over twenty runs: what Qt keeps in its caches moves
// by about a kilobyte either way from run to run. One leaked image stream
// would be 32 KiB per run, one leaked flash target with its port and
// protocol objects some kilobytes per run.
constexpr size_t kHeapSlack = 8 * 1024;

class Session : public GuiRunTest {
protected:
    void RunOne(const TSessionRun& run)
    {
        SCOPED_TRACE(run.Name);
        TUnitSimOptions options = UnitOptions();
        options.FirmwareAnswersUserCommand = !run.BootOnly;
        options.AutoResetAfterConnectWords = run.AutoReset;
        options.Faults = run.Faults;
        StartUnit(options);
        const std::vector<std::string> log = RunToEnd(run.Script);
        EXPECT_EQ(log.empty() ? "" : log.back(), run.LastBox) << ::testing::PrintToString(log);
        // Exactly one box ends the run: no failure from a keep-alive slipped in.
        size_t boxes = 0;
        for (const std::string& entry : log) boxes += entry.rfind("error:", 0) == 0 || entry.rfind("info:", 0) == 0;
        EXPECT_EQ(boxes, 1u) << ::testing::PrintToString(log);
        ExpectIdle();
        Unit->ExpectPortReleased();
        // The operator unplugs the unit before the next run.
        Unit.reset();
    }
};

TEST_F(Session, TwentyRunsOfEveryKindLeakNoDescriptorThreadObjectTimerOrMemory)
{
    ASSERT_TRUE(StartObjectCensus());
    // Warm-up: one run of each kind, so that everything created once per
    // program (message boxes' icons, fonts, the prompt window) exists.
    for (const TSessionRun& run : Kinds) RunOne(run);
    RunOne(Kinds[0]);
    const TFigures before = Measure();

    // Twenty runs: every kind, programming runs in between, ending as the
    // warm-up ended (a programming run, which frees its target).
    const int order[20] = {1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0, 1, 4, 7, 6, 0};
    for (const int kind : order) RunOne(Kinds[size_t(kind)]);
    const TFigures after = Measure();

    Print("before twenty runs:", before);
    Print("after twenty runs:", after);
    EXPECT_LE(after.Descriptors, before.Descriptors);
    EXPECT_LE(after.Threads, before.Threads);
    EXPECT_LE(after.Objects.Objects, before.Objects.Objects);
    EXPECT_LE(after.Objects.Timers, before.Objects.Timers);
    EXPECT_LE(after.Objects.ActiveTimers, before.Objects.ActiveTimers);
    EXPECT_LE(after.Objects.RegisteredTimers, before.Objects.RegisteredTimers);
    if (HeapCounted()) {
        EXPECT_LE(after.Heap, before.Heap + kHeapSlack);
    } else {
        std::printf("[ figures  ] heap not counted: the sanitizers bring their own allocator\n");
    }
}

}
