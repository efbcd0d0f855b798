// The production bench from one command: a gang of units on several ports
// at once, each in a process of its own, and a station that programs unit
// after unit on one port. Real simulated units on pseudo-terminals, the
// real program as a child, its summary and log read back.
#include "clifixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {
class CliGang : public CliTest {
protected:
    std::string LogPath() const { return Scratch() + "/gang.jsonl"; }

    // The log's records by port.
    std::map<std::string, QJsonObject> Records() const
    {
        std::map<std::string, QJsonObject> records;
        for (const std::string& line : Lines(ReadText(LogPath()))) {
            const QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            EXPECT_FALSE(record.isEmpty()) << line;
            records[record.value("port").toString().toStdString()] = record;
        }
        return records;
    }

    // The gang's command line over every unit started, then the extra ones.
    std::vector<std::string> GangArguments(std::vector<std::string> extra = {"--yes"}) const
    {
        std::vector<std::string> arguments;
        for (const auto& unit : Units) arguments.insert(arguments.end(), {"--port", unit->PortPath()});
        arguments.insert(arguments.end(), {"--log", LogPath()});
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    // The summary table's row for the port, split at its runs of blanks.
    static std::vector<std::string> SummaryRow(const std::string& out, const std::string& port)
    {
        for (const std::string& line : Lines(out)) {
            if (line.rfind(port + " ", 0) != 0 || line.find(':') == port.size()) continue;
            std::vector<std::string> cells;
            for (size_t at = 0; at < line.size();) {
                const size_t gap = line.find("  ", at);
                cells.push_back(line.substr(at, gap - at));
                if (gap == std::string::npos) break;
                at = line.find_first_not_of(' ', gap);
            }
            return cells;
        }
        return {};
    }

    // Waits until the file holds the text (a child's output going there).
    static bool WaitForText(const std::string& path, const std::string& text, int timeoutMs = 30000)
    {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (ReadText(path).find(text) != std::string::npos) return true;
            usleep(50 * 1000);
        }
        return false;
    }

    // Two units whose erase takes eraseMs, and a gang over them that both
    // have seen begin to erase.
    std::unique_ptr<TCliChild> GangInsideTheErase(int eraseMs)
    {
        TUnitSimOptions slow;
        slow.EraseMs = eraseMs;
        StartUnit(slow);
        StartUnit(slow);
        auto gang = std::make_unique<TCliChild>(GangArguments());
        for (const auto& unit : Units) EXPECT_TRUE(unit->WaitForFrame("erase start", 30000));
        return gang;
    }

    void ExpectEveryPortReleased() const
    {
        for (const auto& unit : Units) EXPECT_EQ(LockPort(unit->PortPath()), "") << unit->PortPath();
    }
};

TEST_F(CliGang, OneWrongUnitFailsAloneAndTheSummaryLogAndExitCodeSaySo)
{
    StartUnit();
    TUnitSimOptions another;
    another.Faults.push_back(ParseFault("wrong-size@identity"));
    another.AutoResetAfterConnectWords = 0;
    TUnitSim& wrong = StartUnit(another);
    StartUnit();

    // Two ports as a comma list, one on its own.
    const TCliResult result = RunCli({"--port", Units[0]->PortPath() + "," + Units[1]->PortPath(), "--port",
                                      Units[2]->PortPath(), "--yes", "--log", LogPath()});
    EXPECT_EQ(result.ExitCode, ecSomeUnitsFailed) << result.Out << result.Err;
    EXPECT_TRUE(FlashHoldsTheImage(*Units[0]));
    EXPECT_TRUE(FlashIsErased(wrong)) << "the wrong unit was not to be erased";
    EXPECT_TRUE(FlashHoldsTheImage(*Units[2]));
    ExpectEveryPortReleased();

    // Without a terminal: each step's line and each message with its port.
    EXPECT_NE(result.Out.find(Units[0]->PortPath() + ": program: Programming FLASH... 100%"), std::string::npos)
        << result.Out;
    EXPECT_NE(result.Err.find(wrong.PortPath() + ": Flash uP does not match definition"), std::string::npos)
        << result.Err;
    const std::string identity = "4D58:800:7800:Morvex 4620";
    EXPECT_EQ(SummaryRow(result.Out, "Port"),
              (std::vector<std::string>{"Port", "Adapter serial", "Unit identity", "Result", "Time", "Exit"}));
    for (const auto& unit : Units) {
        const std::vector<std::string> row = SummaryRow(result.Out, unit->PortPath());
        ASSERT_EQ(row.size(), 6u) << result.Out;
        EXPECT_EQ(row[1], "-"); // a pseudo-terminal is no USB adapter
        const bool isWrong = unit.get() == &wrong;
        EXPECT_EQ(row[3], isWrong ? "failed: unit-identity" : "passed");
        EXPECT_EQ(row[5], std::to_string(isWrong ? ecUnitIdentity : ecSuccess));
        EXPECT_EQ(row[2], isWrong ? "4D58:800:7700:Morvex 4620" : identity); // what the wrong unit said
    }
    const auto records = Records();
    ASSERT_EQ(records.size(), 3u);
    for (const auto& unit : Units) {
        const QJsonObject& record = records.at(unit->PortPath());
        EXPECT_EQ(record.value("exitCode").toInt(), unit.get() == &wrong ? ecUnitIdentity : ecSuccess);
    }
}

TEST_F(CliGang, CommandLinesAGangCannotCarryOutAreUsageErrorsThatTouchNoUnit)
{
    TUnitSim& unit = StartUnit();
    TUnitSim& other = StartUnit();
    const std::string link = Scratch() + "/same-unit";
    ASSERT_EQ(symlink(unit.PortPath().c_str(), link.c_str()), 0);
    struct TCase {
        std::vector<std::string> Arguments;
        std::string Message;
    };
    const TCase cases[] = {
        {{"--port", unit.PortPath(), "--port", unit.PortPath(), "--yes"}, "is given twice"},
        {{"--port", unit.PortPath() + "," + link, "--yes"}, "port " + link + " is given twice (as " + unit.PortPath()},
        {{"--port", unit.PortPath() + ",", "--yes"}, "--port needs a port name"},
        {{"--port", unit.PortPath(), "--port", other.PortPath()}, "add --yes"},
        {{"--port", unit.PortPath(), "--port", other.PortPath(), "--yes", "--repeat"}, "work on one port"},
        {{"--port", unit.PortPath(), "--count", "0"}, "bad value \"0\" for --count"},
        {{"--port", unit.PortPath(), "--verify-only", "--repeat"}, "does not go with --repeat"},
        {{"--port", unit.PortPath() + ",usb:0403", "--yes"}, "usb:0403"},
        // A log no unit could append to stops the gang before any unit.
        {{"--port", unit.PortPath(), "--port", other.PortPath(), "--yes", "--log", Scratch()}, Scratch()},
    };
    for (const TCase& c : cases) {
        const TCliResult result = RunCli(c.Arguments);
        EXPECT_EQ(result.ExitCode, ecUsage) << c.Message;
        EXPECT_NE(result.Err.find(c.Message), std::string::npos) << result.Err;
        EXPECT_EQ(result.Out, "");
    }
    EXPECT_TRUE(UnitSawNothing(unit));
    EXPECT_TRUE(UnitSawNothing(other));
}

TEST_F(CliGang, AUnitUnpluggedMidGangAndAPortHeldElsewhereFailAloneWithPortErrors)
{
    TUnitSimOptions slow;
    slow.EraseMs = 1500;
    TUnitSim& unplugged = StartUnit(slow);
    StartUnit(slow);
    TUnitSim& held = StartUnit();
    // Another program holds the third port as the programmer would.
    const int holder = open(held.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    TCliChild gang(GangArguments());
    ASSERT_TRUE(unplugged.WaitForFrame("erase start", 30000));
    unplugged.HangUp();
    const TCliResult result = gang.Wait();
    close(holder);
    EXPECT_EQ(result.ExitCode, ecSomeUnitsFailed) << result.Out << result.Err;
    EXPECT_TRUE(FlashHoldsTheImage(*Units[1]));
    for (const TUnitSim* failed : {&unplugged, &held}) {
        const std::vector<std::string> row = SummaryRow(result.Out, failed->PortPath());
        ASSERT_EQ(row.size(), 6u) << result.Out;
        EXPECT_EQ(row[3], "failed: port-error");
        EXPECT_EQ(row[5], std::to_string(ecPortError));
    }
    // The holder's own open is all the held unit saw: not a byte from the gang.
    for (const TSimFrame& frame : held.Transcript()) EXPECT_NE(frame.Direction, sdHostToUnit) << frame.Label;
    const auto records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.at(unplugged.PortPath()).value("failure").toString(), "port-error");
    EXPECT_EQ(records.at(held.PortPath()).value("failure").toString(), "port-error");
    EXPECT_EQ(records.at(Units[1]->PortPath()).value("result").toString(), "success");
}

TEST_F(CliGang, ASignalToTheGangStopsEveryUnitAtItsNextSafePointWithItsRecord)
{
    const std::unique_ptr<TCliChild> gang = GangInsideTheErase(1500);
    ASSERT_FALSE(HasFailure());
    gang->Signal(SIGTERM);
    const TCliResult result = gang->Wait();
    EXPECT_EQ(result.ExitCode, ecSomeUnitsFailed) << result.Out << result.Err;
    EXPECT_NE(result.Err.find("Interrupted: stopping every unit at its next safe point"), std::string::npos)
        << result.Err;
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    for (const auto& unit : Units) {
        EXPECT_EQ(SummaryRow(result.Out, unit->PortPath()).at(5), std::to_string(ecCancelled)) << result.Out;
        EXPECT_EQ(records.at(unit->PortPath()).value("failure").toString(), "interrupted");
        // Stopped after the erase: nothing of the program step reached the unit.
        EXPECT_FALSE(unit->WaitForFrame("program start", 0));
    }
    ExpectEveryPortReleased();
}

TEST_F(CliGang, ASecondSignalEndsTheUnitsProcessesAtOnceAndTheSummarySaysSo)
{
    const std::unique_ptr<TCliChild> gang = GangInsideTheErase(3000);
    ASSERT_FALSE(HasFailure());
    gang->Signal(SIGINT);
    usleep(300 * 1000); // within the erase: the first request has not yet stopped anything
    gang->Signal(SIGINT);
    const TCliResult result = gang->Wait();
    EXPECT_EQ(result.ExitCode, ecSomeUnitsFailed) << result.Out << result.Err;
    EXPECT_NE(result.Err.find("Interrupted again: ending every unit's process now"), std::string::npos) << result.Err;
    for (const auto& unit : Units) {
        const std::vector<std::string> row = SummaryRow(result.Out, unit->PortPath());
        ASSERT_EQ(row.size(), 6u) << result.Out;
        EXPECT_EQ(row[3], "ended by a signal, no record");
        EXPECT_EQ(row[5], "-");
    }
    EXPECT_EQ(ReadText(LogPath()), "");
    ExpectEveryPortReleased();
}

TEST_F(CliGang, OnATerminalALiveTableOneLinePerPortRewrittenInPlace)
{
    StartUnit();
    StartUnit();
    TTerminalChild gang(GangArguments());
    const TCliResult result = gang.Wait();
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Out;
    // Each redraw climbs back over the table's two lines.
    EXPECT_NE(result.Out.find("\033[2A\r\033[J"), std::string::npos) << result.Out;
    for (const auto& unit : Units) {
        EXPECT_NE(result.Out.find(unit->PortPath() + "  passed (exit 0)"), std::string::npos) << result.Out;
        EXPECT_EQ(result.Out.find(unit->PortPath() + ": Port "), std::string::npos) << "plain lines on the table";
        EXPECT_TRUE(FlashHoldsTheImage(*unit));
    }
}

TEST_F(CliGang, AStationWithoutATerminalWaitsForTheLastUnitToGoAndTheNextToAnswer)
{
    const std::string link = Scratch() + "/station-port";
    const std::string out = Scratch() + "/station.out";
    TUnitSimOptions linked;
    linked.LinkPath = link;
    TUnitSim& first = StartUnit(linked);
    TChildSetup setup;
    setup.OutputFile = out;
    TCliChild station({"--port", link, "--count", "2", "--log", LogPath()}, {}, setup);
    // The first unit stays on the bench through a try of the user method
    // after its run; then it is taken off.
    ASSERT_TRUE(WaitForText(out, "Station: unit 1 passed (exit 0); 1 passed, 0 failed"));
    first.ClearTranscript();
    ASSERT_TRUE(first.WaitForFrame("connect reply", 30000));
    Units.front().reset();
    ASSERT_TRUE(WaitForText(out, "Station: no unit on " + link + "; connect the next one"));
    TUnitSim& second = StartUnit(linked);
    const TCliResult result = station.Wait();
    const std::string shown = ReadText(out);
    EXPECT_EQ(result.ExitCode, ecSuccess) << shown << result.Err;
    EXPECT_TRUE(FlashHoldsTheImage(second));
    EXPECT_NE(shown.find("Station: unit 2 passed (exit 0); 2 passed, 0 failed"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Station: 2 units, 2 passed, 0 failed"), std::string::npos) << shown;
    // A try that found no unit, or found the first one still there, is no unit of the tally.
    EXPECT_EQ(Lines(ReadText(LogPath())).size(), 2u);
}

TEST_F(CliGang, AStationOnATerminalTakesEnterForTheNextUnitAndEndsAtOnceOnCtrlCBetweenUnits)
{
    TUnitSim& unit = StartUnit();
    TTerminalChild station({"--port", unit.PortPath(), "--repeat", "--yes", "--log", LogPath()});
    const std::string next = "Next unit: connect it and press Enter (Ctrl-C ends the station): ";
    ASSERT_TRUE(station.WaitFor("Station: unit 1 passed (exit 0); 1 passed, 0 failed")) << station.Shown();
    ASSERT_TRUE(station.WaitFor(next)) << station.Shown();
    station.Type("\r");
    ASSERT_TRUE(station.WaitFor("Station: unit 2 passed (exit 0); 2 passed, 0 failed")) << station.Shown();
    ASSERT_TRUE(station.WaitFor(next)) << station.Shown();
    unit.ClearTranscript();
    station.Type("\x03");
    const TCliResult result = station.Wait();
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Out;
    EXPECT_NE(result.Out.find("Station: 2 units, 2 passed, 0 failed"), std::string::npos) << result.Out;
    for (const TSimFrame& frame : unit.Transcript())
        EXPECT_NE(frame.Label, "host opens the port") << "Ctrl-C between units began a run";
    EXPECT_EQ(Lines(ReadText(LogPath())).size(), 2u);
}

TEST_F(CliGang, CtrlCDuringAStationsUnitStopsItAtTheNextSafePointAndEndsTheStation)
{
    TUnitSimOptions slow;
    slow.EraseMs = 1500;
    TUnitSim& unit = StartUnit(slow);
    TCliChild station({"--port", unit.PortPath(), "--repeat", "--log", LogPath()});
    ASSERT_TRUE(unit.WaitForFrame("erase start", 30000));
    station.Signal(SIGINT);
    const TCliResult result = station.Wait();
    EXPECT_EQ(result.ExitCode, ecSomeUnitsFailed) << result.Out << result.Err;
    EXPECT_NE(result.Out.find("Station: unit 1 failed (exit 3); 0 passed, 1 failed\nStation: 1 unit, 0 passed, 1 failed"),
              std::string::npos)
        << result.Out;
    EXPECT_EQ(result.Out.find("take the unit off"), std::string::npos) << "the station went on after Ctrl-C";
    const std::vector<std::string> records = Lines(ReadText(LogPath()));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"failure\":\"interrupted\""), std::string::npos) << records[0];
    EXPECT_EQ(LockPort(unit.PortPath()), "");
}
}
