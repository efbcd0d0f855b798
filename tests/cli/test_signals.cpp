// Signals during a run, as a terminal, a bench script or a neighbour sends
// them: a hang-up lets the run finish and log, a signal the program was
// started with ignored stays ignored, SIGINT, SIGTERM and SIGQUIT stop it at
// the next safe point and say what became of the unit, and no core file
// ever holds the plain image.
#include "clifixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
const std::string Stopping = "Interrupted: stopping at the next safe point";

class CliSignals : public CliTest {
protected:
    std::string LogPath() const { return Scratch() + "/runs.jsonl"; }
    // The only record of the log.
    QJsonObject Record() const
    {
        const std::vector<std::string> lines = Lines(ReadText(LogPath()));
        EXPECT_EQ(lines.size(), 1u);
        return lines.empty() ? QJsonObject() : QJsonDocument::fromJson(QByteArray::fromStdString(lines[0])).object();
    }
    static std::string Field(const QJsonObject& record, const char* key)
    {
        return record.value(key).toString().toStdString();
    }
    // A unit whose erase takes long enough for a signal to arrive in it.
    TUnitSim& SlowEraseUnit()
    {
        TUnitSimOptions options;
        options.EraseMs = 1500;
        return StartUnit(options);
    }
};

TEST_F(CliSignals, AHangUpLetsTheRunFinishAndLog)
{
    TUnitSim& unit = SlowEraseUnit();
    TCliChild child(RunArguments(unit, {"--log", LogPath()}));
    ASSERT_TRUE(unit.WaitForFrame("erase start", 30000));
    child.Signal(SIGHUP);
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Err;
    EXPECT_TRUE(FlashHoldsTheImage(unit));
    EXPECT_EQ(Field(Record(), "result"), "success");
}

TEST_F(CliSignals, ASignalInheritedAsIgnoredStaysIgnored)
{
    TUnitSim& unit = SlowEraseUnit();
    TChildSetup setup;
    setup.IgnoredSignals = {SIGINT, SIGTERM};
    TCliChild child(RunArguments(unit), {}, setup);
    ASSERT_TRUE(unit.WaitForFrame("erase start", 30000));
    child.Signal(SIGINT);
    child.Signal(SIGTERM);
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Err;
    EXPECT_EQ(result.Err.find("Interrupted"), std::string::npos) << result.Err;
    EXPECT_TRUE(FlashHoldsTheImage(unit));
}

// Where the stop came, what the operator is told, and the kind the log
// gives it.
struct TStopCase {
    const char* Name;
    int Signal;
    const char* Fault;   // makes the unit slow where the signal is to arrive
    const char* Frame;   // the unit's frame after which the signal is sent
    std::string Message; // the run's last line
    std::string Kind;
};

void PrintTo(const TStopCase& c, std::ostream* out) { *out << c.Name; }

const TStopCase StopCases[] = {
    {"CtrlCWhileConnecting", SIGINT, "slow@speed-reply=300", "speed-change request",
     "Run interrupted: nothing on the unit was changed", "cancelled"},
    {"CtrlBackslashDuringTheErase", SIGQUIT, "slow@erase=1500", "erase start",
     "Run interrupted: the unit may be partly programmed", "interrupted"},
    {"TermDuringTheErase", SIGTERM, "slow@erase=1500", "erase start",
     "Run interrupted: the unit may be partly programmed", "interrupted"},
};

class CliStop : public CliSignals, public ::testing::WithParamInterface<TStopCase> {};

TEST_P(CliStop, EndsAtTheNextSafePointSayingWhatBecameOfTheUnit)
{
    const TStopCase& c = GetParam();
    TUnitSimOptions options;
    options.Faults.push_back(ParseFault(c.Fault));
    TUnitSim& unit = StartUnit(options);
    TCliChild child(RunArguments(unit, {"--log", LogPath()}));
    ASSERT_TRUE(unit.WaitForFrame(c.Frame, 30000));
    child.Signal(c.Signal);
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecCancelled) << result.Err;
    EXPECT_EQ(Lines(result.Err), (std::vector<std::string>{Stopping, c.Message}));
    const QJsonObject record = Record();
    EXPECT_EQ(Field(record, "failure"), c.Kind);
    EXPECT_EQ(Field(record, "message"), c.Message);
    EXPECT_EQ(LockPort(unit.PortPath()), "");
    bool erased = false;
    for (const TSimFrame& frame : unit.Transcript()) erased |= frame.Label == "erase start";
    EXPECT_EQ(erased, c.Kind == "interrupted");
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStop, ::testing::ValuesIn(StopCases),
                         [](const ::testing::TestParamInfo<TStopCase>& info) { return info.param.Name; });

// The core files the kernel wrote into the folder.
std::vector<std::string> CoreFiles(const std::string& folder)
{
    std::vector<std::string> cores;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind("core", 0) == 0) cores.push_back(entry.path().string());
    return cores;
}

TEST_F(CliSignals, AnAbortWhileTheImageIsHeldLeavesNoPlainImageInACoreFile)
{
    TChildSetup setup;
    setup.CoreDumps = true;
    setup.WorkingFolder = Scratch() + "/cores";
    fs::create_directories(setup.WorkingFolder);
    // Before the image is deciphered the program dumps as any other: this
    // proves the system writes core files here at all.
    TUnitSimOptions slowConnect;
    slowConnect.Faults.push_back(ParseFault("slow@speed-reply=1500"));
    TUnitSim& connecting = StartUnit(slowConnect);
    {
        TCliChild child(RunArguments(connecting), {}, setup);
        ASSERT_TRUE(connecting.WaitForFrame("speed-change request", 30000));
        child.Signal(SIGABRT);
        EXPECT_EQ(child.Wait().ExitCode, -1);
    }
    if (CoreFiles(setup.WorkingFolder).empty())
        GTEST_SKIP() << "this system writes no core files into the process's folder (see core_pattern)";
    for (const std::string& core : CoreFiles(setup.WorkingFolder)) fs::remove(core);

    TUnitSimOptions slowProgramming;
    slowProgramming.Paced = true;
    TUnitSim& programming = StartUnit(slowProgramming);
    TCliChild child(RunArguments(programming), {}, setup);
    ASSERT_TRUE(programming.WaitForFrame("program block 3", 60000));
    child.Signal(SIGABRT);
    EXPECT_EQ(child.Wait().ExitCode, -1);
    for (const std::string& core : CoreFiles(setup.WorkingFolder))
        EXPECT_EQ(PlainWindowsIn(ReadText(core)), 0u) << core;
}
}
