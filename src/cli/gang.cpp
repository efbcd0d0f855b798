#include "cli/gang.h"

#include "cli/exitcodes.h"
#include "cli/interrupts.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"
#include "serial/portinfo.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <cstdio>

namespace {
constexpr int RedrawMs = 250;
// A wrapped line would break the redraw in place: a line stays within the
// terminal's width as it is at each redraw (a window may be resized), or
// within 79 columns where the width is not known.
constexpr size_t DefaultLineWidth = 79;

size_t LiveLineWidth()
{
    const int columns = TerminalColumns(1);
    return columns > 1 ? size_t(columns - 1) : DefaultLineWidth;
}
constexpr size_t MaxPortWidth = 32;

// The child's command line: the parent's settings, written out in their
// text forms, and the child's one port.
QStringList ChildArguments(const TCliOptions& options, const std::string& port)
{
    QStringList arguments = {"--port",      QString::fromStdString(port),
                             "--baud",      QString::fromStdString(BaudRateToText(options.BaudRate)),
                             "--data-bits", QString::fromStdString(DataBitsToText(options.DataBits)),
                             "--stop-bits", QString::fromStdString(StopBitsToText(options.StopBits)),
                             "--parity",    QString::fromStdString(ParityToText(options.Parity)),
                             "--yes",       "--progress-feed"};
    if (options.Quiet) arguments << "--quiet";
    if (!options.LogPath.empty()) arguments << "--log" << QString::fromStdString(options.LogPath);
    if (options.VerifyOnly) arguments << "--verify-only";
    return arguments;
}

// The identity text as one short line (it ends with a line end, padded).
std::string IdentityLine(const QString& text)
{
    std::string line = text.toStdString();
    line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return (unsigned char)c < ' '; }), line.end());
    return line;
}

std::string ResultText(int exitCode, const std::string& failure)
{
    if (exitCode == ecSuccess) return "passed";
    if (exitCode == ecLogNotWritten) return "programmed, not logged";
    return "failed: " + (failure.empty() || failure == "none" ? "exit " + std::to_string(exitCode) : failure);
}
}

TGang::TGang(const TCliOptions& options, TInterruptWatch& interrupts, const TTerminal& terminal,
             const QStringList& unitCommand)
    : FOptions(options), FInterrupts(interrupts),
      FUnitCommand(unitCommand.isEmpty() ? QStringList{QCoreApplication::applicationFilePath()} : unitCommand),
      FLiveTable(terminal.OutputIsTerminal && terminal.ClearsLines && !options.Quiet)
{
    for (const std::string& port : options.Ports) {
        auto member = std::make_unique<TMember>();
        member->Unit.Port = port;
        member->Unit.AdapterSerial = SerialPortFacts(port).SerialNumber;
        FPortWidth = std::min(MaxPortWidth, std::max(FPortWidth, port.size()));
        FMembers.push_back(std::move(member));
    }
    FInterrupts.SetHandler([this] { Interrupted(); });
    FRedraw.setInterval(RedrawMs);
    connect(&FRedraw, &QTimer::timeout, this, [this] { DrawTable(); });
}

TGang::~TGang()
{
    FInterrupts.SetHandler(nullptr);
    // Run returns only once every child has ended; this is for a failure
    // that left Run early.
    for (const auto& member : FMembers)
        if (member->Process && member->Process->state() != QProcess::NotRunning) {
            member->Process->kill();
            member->Process->waitForFinished();
        }
}

int TGang::Run()
{
    for (const auto& member : FMembers) Start(*member);
    if (FLiveTable) {
        DrawTable();
        FRedraw.start();
    }
    if (FRunning > 0) FLoop.exec();
    FRedraw.stop();
    DrawTable();
    FDrawnLines = 0; // the last state stays on the terminal above the summary
    std::vector<TGangUnit> units;
    bool allPassed = true;
    for (const auto& member : FMembers) {
        units.push_back(member->Unit);
        allPassed = allPassed && member->Unit.ExitCode == ecSuccess;
    }
    std::printf("%s", GangSummary(units).c_str());
    std::fflush(stdout);
    return allPassed ? ecSuccess : ecSomeUnitsFailed;
}

void TGang::Start(TMember& member)
{
    QProcess* process = new QProcess(this);
    member.Process = process;
    process->setProgram(FUnitCommand.first());
    process->setArguments(FUnitCommand.mid(1) + ChildArguments(FOptions, member.Unit.Port));
    process->setStandardInputFile(QProcess::nullDevice());
    PrepareGangChild(*process);
    connect(process, &QProcess::readyReadStandardOutput, this, [this, &member] { Read(member, 0); });
    connect(process, &QProcess::readyReadStandardError, this, [this, &member] { Read(member, 1); });
    connect(process, &QProcess::finished, this, [this, &member](int exitCode, QProcess::ExitStatus status) {
        Ended(member, exitCode, status == QProcess::CrashExit);
    });
    connect(process, &QProcess::errorOccurred, this, [this, &member](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        Say(member, "cannot start " + member.Process->program().toStdString() + ": " +
                        member.Process->errorString().toStdString(), true);
        member.Unit.Result = "not started";
        member.Unit.Ended = true;
        if (--FRunning == 0) FLoop.quit();
    });
    ++FRunning;
    member.Clock.start();
    process->start();
}

void TGang::Read(TMember& member, int stream)
{
    QByteArray& pending = member.Pending[stream];
    pending += stream == 0 ? member.Process->readAllStandardOutput() : member.Process->readAllStandardError();
    for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
        const QByteArray line = pending.left(end);
        pending.remove(0, end + 1);
        TakeLine(member, line, stream);
    }
}

void TGang::TakeLine(TMember& member, const QByteArray& line, int stream)
{
    if (stream == 0 && line.startsWith("{\"")) {
        const QJsonDocument feed = QJsonDocument::fromJson(line);
        if (feed.isObject() && feed.object().contains("feed")) return TakeFeed(member, feed.object());
    }
    // On the live table the child's plain output adds nothing to its line;
    // its messages (standard error) are shown above the table.
    if ((stream == 0 && FLiveTable) || line.trimmed().isEmpty()) return;
    Say(member, line.toStdString(), stream == 1);
}

void TGang::TakeFeed(TMember& member, const QJsonObject& feed)
{
    TGangUnit& unit = member.Unit;
    if (feed.value("feed").toString() == "result") {
        unit.Identity = IdentityLine(feed.value("identity").toString());
        unit.Result = ResultText(feed.value("exitCode").toInt(), feed.value("failure").toString().toStdString());
        return;
    }
    unit.Step = feed.value("step").toString().toStdString();
    unit.Percent = feed.value("percent").toInt(-1);
    unit.BitRate = feed.value("rate").toInteger(-1);
    unit.SecondsLeft = feed.value("left").toInt(-1);
    if (!FLiveTable && !FOptions.Quiet && feed.value("final").toBool())
        Say(member, feed.value("line").toString().toStdString(), false);
}

void TGang::Ended(TMember& member, int exitCode, bool crashed)
{
    for (int stream = 0; stream < 2; ++stream) {
        Read(member, stream);
        if (!member.Pending[stream].isEmpty()) TakeLine(member, member.Pending[stream], stream);
        member.Pending[stream].clear();
    }
    TGangUnit& unit = member.Unit;
    unit.Ended = true;
    unit.Seconds = member.Clock.elapsed() / 1000.0;
    unit.ExitCode = crashed ? -1 : exitCode;
    // A child that ended without its result (killed, or a crash) has no
    // record either: the summary says how it ended.
    if (crashed) unit.Result = "ended by a signal, no record";
    else if (unit.Result.empty()) unit.Result = ResultText(exitCode, "");
    if (!FLiveTable && !FOptions.Quiet) Say(member, unit.Result + " (exit " + (crashed ? "-" : std::to_string(exitCode)) + ")", false);
    DrawTable();
    if (--FRunning == 0) FLoop.quit();
}

void TGang::Interrupted()
{
    ++FInterruptCount;
    EraseTable();
    if (FInterruptCount == 1) {
        std::fprintf(stderr, "Interrupted: stopping every unit at its next safe point\n");
        for (const auto& member : FMembers)
            if (member->Process->state() == QProcess::Running) StopGangChild(*member->Process);
    } else {
        std::fprintf(stderr, "Interrupted again: ending every unit's process now (no record for those)\n");
        for (const auto& member : FMembers)
            if (member->Process->state() != QProcess::NotRunning) member->Process->kill();
    }
    DrawTable();
}

void TGang::Say(const TMember& member, const std::string& text, bool error)
{
    EraseTable();
    std::FILE* out = error ? stderr : stdout;
    std::fprintf(out, "%s: %s\n", member.Unit.Port.c_str(), text.c_str());
    std::fflush(out);
    DrawTable();
}

void TGang::EraseTable()
{
    if (!FLiveTable || FDrawnLines == 0) return;
    std::printf("\033[%zuA\r\033[J", FDrawnLines);
    // Before a message on standard error takes the table's place.
    std::fflush(stdout);
    FDrawnLines = 0;
}

void TGang::DrawTable()
{
    if (!FLiveTable) return;
    EraseTable();
    const size_t width = LiveLineWidth();
    for (const auto& member : FMembers) std::printf("%s\n", GangLiveLine(member->Unit, FPortWidth, width).c_str());
    FDrawnLines = FMembers.size();
    std::fflush(stdout);
}
