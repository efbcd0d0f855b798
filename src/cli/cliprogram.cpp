#include "cli/cliprogram.h"

#include "cli/adapterwarning.h"
#include "cli/exitcodes.h"
#include "cli/imageinfo.h"
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/portlist.h"
#include "cli/runlog.h"
#include "cli/terminaloperator.h"
#include "image/imagedigest.h"
#include "image/storedimage.h"
#include "run/programmingrun.h"
#include "serial/devicechannel.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
const char* const NoValidImage = "No Valid FLASH Image Present!";

std::string ProgramName() { return QCoreApplication::applicationName().toStdString(); }

int Usage(const std::string& error)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", ProgramName().c_str(), error.c_str(),
                 ProgramName().c_str());
    return ecUsage;
}

std::string Description(const TStoredImage& image)
{
    const uint32_t type = UnitType(image);
    return "Programs a Morvex unit over a serial port with the firmware image built into\n"
           "this program: " +
           GetImageName(image) + " for the " + UnitModelName(type) + ". It takes no image from a file.";
}

std::string UserMethodFailure(const TProgrammingRun& run)
{
    if (!run.UserMethodFailure()) return "";
    try {
        std::rethrow_exception(run.UserMethodFailure());
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
    }
    return "";
}

TRunContext Context(const TProgrammingRun& run, const TCliOptions& options, int exitCode)
{
    TRunContext context;
    context.ProgramVersion = QCoreApplication::applicationVersion().toStdString();
    context.Host = QSysInfo::machineHostName().toStdString();
    context.Port = options.Port;
    // An adapter name still in the options found no port: there is no device.
    context.Device = options.UsbAdapter ? "" : PortDevicePath(options.Port);
    if (!options.UsbAdapter) context.PortFacts = SerialPortFacts(options.Port);
    context.BaudRate = BaudRateToText(options.BaudRate);
    context.DataBits = DataBitsToText(options.DataBits);
    context.StopBits = StopBitsToText(options.StopBits);
    context.Parity = ParityToText(options.Parity);
    context.ImageName = GetImageName(run.Image());
    context.ImageDigest =
        QByteArray(reinterpret_cast<const char*>(run.Digest().data()), int(run.Digest().size())).toHex().toStdString();
    context.UnitType = UnitType(run.Image());
    context.Model = UnitModelName(context.UnitType);
    context.UserMethodFailure = UserMethodFailure(run);
    context.VerifyOnly = options.VerifyOnly;
    context.ExitCode = exitCode;
    return context;
}

// The record of a run that could not begin: the image is not one to
// program, or the adapter named is not there.
TRunReport ReportOfNoRun(TFailureKind kind, const std::string& message)
{
    TRunReport report;
    report.Started = report.Ended = std::chrono::system_clock::now();
    report.Failure = kind;
    report.Message = message;
    return report;
}

// The port an adapter name stands for, in place of the name: "" when there
// is one, otherwise why not. Other names are left as they are.
std::string ResolvePort(TCliOptions& options)
{
    if (!options.UsbAdapter) return "";
    std::vector<TPortCandidate> candidates;
    try {
        candidates = SerialPortsWithFacts();
    } catch (const EComPort& failure) {
        return failure.what();
    }
    const TPortChoice choice = ChooseUsbPort(options.Port, *options.UsbAdapter, candidates);
    if (!choice.Error.empty()) return choice.Error;
    options.Port = choice.Port;
    options.UsbAdapter.reset();
    return "";
}

// Where the flash differs from the image, for the operator: the comparison's
// own message counts from the area's start, a bench wants flash addresses.
void PrintDifferences(const TDifferences& differences)
{
    if (differences.First.empty()) return;
    std::string text = "Differing bytes: " + std::to_string(differences.Count) +
                       (differences.Count == 1 ? ", at flash address" : ", the first at flash addresses");
    for (size_t i = 0; i < differences.First.size(); ++i)
        text += (i == 0 ? " " : ", ") + FlashAddressText(differences.First[i]);
    std::fprintf(stderr, "%s\n", text.c_str());
}

int ProgramUnit(TProgrammingRun& run, TTerminalOperator& runOperator, TCliOptions options)
{
    // The log is the bench's record of this unit: without it the unit is
    // not touched at all.
    TRunLog log;
    if (!options.LogPath.empty()) {
        const std::string error = log.Open(options.LogPath);
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), error.c_str());
            return ecUsage;
        }
    }
    TRunReport report;
    int exitCode = ecImageInvalid;
    std::string portError;
    if (!IsImageValid(run.Image())) {
        std::fprintf(stderr, "%s\n", NoValidImage);
        report = ReportOfNoRun(TFailureKind::ImageInvalid, NoValidImage);
    } else if (!(portError = ResolvePort(options)).empty()) {
        std::fprintf(stderr, "%s\n", portError.c_str());
        report = ReportOfNoRun(TFailureKind::PortError, portError);
        exitCode = ecPortError;
    } else {
        runOperator.Configure(options);
        if (!options.Quiet) {
            const std::string warning =
                LatencyWarning(options.Port, SerialPortFacts(options.Port), ReadBackOf(run.Image()));
            std::fprintf(stderr, "%s", warning.c_str());
        }
        TRunOptions runOptions = run.Options();
        runOptions.VerifyOnly = options.VerifyOnly;
        run.SetOptions(runOptions);
        run.Execute();
        report = run.Report();
        PrintDifferences(report.Differences);
        exitCode = report.Succeeded ? ecSuccess : ExitCodeFor(report.Failure, options.VerifyOnly);
    }
    if (!log.IsOpen()) return exitCode;
    const std::string error = log.Append(RunRecord(report, Context(run, options, exitCode)));
    if (error.empty()) return exitCode;
    std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), error.c_str());
    // A bench that finds no record has no proof of the unit: a programmed
    // unit without its record is not a plain success. A failure keeps its
    // own code, which says more about the unit.
    if (exitCode != ecSuccess) return exitCode;
    std::fprintf(stderr, "%s: the unit was %s, but its record is not in the log\n", ProgramName().c_str(),
                 options.VerifyOnly ? "verified" : "programmed");
    return ecLogNotWritten;
}

// What an action that only prints ends with: its own code when all of it
// reached standard output, otherwise a failure (a script that reads
// --list-ports from a full disk must not take an empty list for the truth).
int Printed(int exitCode)
{
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno; // of the flush, or of the write that failed before it
    if (flushed && !std::ferror(stdout)) return exitCode;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", ProgramName().c_str(), std::strerror(error));
    return ecInternal;
}
}

int RunCommandLine(const QStringList& arguments, const TStoredImage& image, const TImageDigest& digest)
{
    TInterruptWatch interrupts;
    TTerminal terminal;
    terminal.Interactive = IsTerminal(0);
    terminal.OutputIsTerminal = IsTerminal(1);
    terminal.ClearsLines = terminal.OutputIsTerminal && TerminalClearsLines(1);
    TTerminalOperator runOperator(terminal, interrupts);
    TProgrammingRun run(runOperator, image, digest);
    runOperator.SetRun(&run);
    interrupts.SetHandler([&runOperator] { runOperator.Interrupt(); });

    const TCommandLine commandLine = ParseCommandLine(arguments, *run.ConnectInfo().ConnectPort, Description(image));
    switch (commandLine.Action) {
    case TCliAction::Usage: return Usage(commandLine.Error);
    case TCliAction::Help: std::printf("%s", commandLine.Help.c_str()); return Printed(ecSuccess);
    case TCliAction::Version:
        std::printf("%s %s\n", ProgramName().c_str(), QCoreApplication::applicationVersion().toStdString().c_str());
        return Printed(ecSuccess);
    case TCliAction::Info:
        std::printf("%s", ImageInfoText(image).c_str());
        if (IsImageValid(image)) return Printed(ecSuccess);
        std::fprintf(stderr, "%s\n", NoValidImage);
        return Printed(ecImageInvalid);
    case TCliAction::ListPorts: try { PrintPortList(stdout, commandLine.Json);
        } catch (const EComPort& failure) {
            std::fprintf(stderr, "%s\n", failure.what());
            return ecPortError;
        }
        return Printed(ecSuccess);
    case TCliAction::Program: break;
    }
    try {
        return ProgramUnit(run, runOperator, commandLine.Options);
    } catch (const std::exception& failure) {
        // The run reports its own failures; anything here is outside it.
        std::fprintf(stderr, "%s\n", failure.what());
        return ecInternal;
    }
}
