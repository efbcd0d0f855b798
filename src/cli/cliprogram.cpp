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
#include "serial/comsetup.h"
#include "serial/devicechannel.h"

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
    context.Host = QSysInfo::machineHostName().toStdString();
    context.Port = options.Port;
    context.Device = PortDevicePath(options.Port);
    context.BaudRate = BaudRateToText(options.BaudRate);
    context.DataBits = DataBitsToText(options.DataBits);
    context.StopBits = StopBitsToText(options.StopBits);
    context.Parity = ParityToText(options.Parity);
    context.ImageName = GetImageName(run.Image());
    context.UnitType = UnitType(run.Image());
    context.Model = UnitModelName(context.UnitType);
    context.UserMethodFailure = UserMethodFailure(run);
    context.ExitCode = exitCode;
    return context;
}

// The record of a run that could not begin: the image is not one to program.
TRunReport ImageInvalidReport()
{
    TRunReport report;
    report.Started = report.Ended = std::chrono::system_clock::now();
    report.Failure = TFailureKind::ImageInvalid;
    report.Message = NoValidImage;
    return report;
}

int ProgramUnit(TProgrammingRun& run, TTerminalOperator& runOperator, const TCliOptions& options)
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
    if (!IsImageValid(run.Image())) {
        std::fprintf(stderr, "%s\n", NoValidImage);
        report = ImageInvalidReport();
    } else {
        runOperator.Configure(options);
        if (!options.Quiet) {
            const std::string warning =
                LatencyWarning(options.Port, SerialPortFacts(options.Port), ReadBackOf(run.Image()));
            std::fprintf(stderr, "%s", warning.c_str());
        }
        run.Execute();
        report = run.Report();
        exitCode = report.Succeeded ? ecSuccess : ExitCodeFor(report.Failure);
    }
    if (!log.IsOpen()) return exitCode;
    const std::string error = log.Append(RunRecord(report, Context(run, options, exitCode)));
    if (error.empty()) return exitCode;
    std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), error.c_str());
    // A bench that finds no record has no proof of the unit: a programmed
    // unit without its record is not a plain success. A failure keeps its
    // own code, which says more about the unit.
    if (exitCode != ecSuccess) return exitCode;
    std::fprintf(stderr, "%s: the unit was programmed, but its record is not in the log\n", ProgramName().c_str());
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
    // After a port error the boot method would fail the same way: the port's
    // own message tells the bench more than a question nobody may be there
    // to answer.
    run.SetOptions(TRunOptions{.AskBootAfterPortError = false});
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
    case TCliAction::ListPorts: try { PrintPortList(stdout);
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
