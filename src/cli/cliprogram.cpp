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
#include <cstdio>

namespace {
const char* const NoValidImage = "No Valid FLASH Image Present!";

std::string ProgramName() { return QCoreApplication::applicationName().toStdString(); }

int Usage(const std::string& error)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", ProgramName().c_str(), error.c_str(),
                 ProgramName().c_str());
    return ecUsage;
}

std::string Description()
{
    const uint32_t type = UnitType(StoredImage);
    return "Programs a Morvex unit over a serial port with the firmware image built into\n"
           "this program: " +
           GetImageName(StoredImage) + " for the " + UnitModelName(type) + ". It takes no image from a file.";
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
    if (!IsImageValid(run.Image())) {
        std::fprintf(stderr, "%s\n", NoValidImage);
        return ecImageInvalid;
    }
    runOperator.Configure(options);
    if (!options.Quiet) {
        const std::string warning =
            LatencyWarning(options.Port, SerialPortFacts(options.Port), ReadBackOf(run.Image()));
        std::fprintf(stderr, "%s", warning.c_str());
    }
    run.Execute();
    const TRunReport& report = run.Report();
    const int exitCode = report.Succeeded ? ecSuccess : ExitCodeFor(report.Failure);
    if (log.IsOpen()) {
        const std::string error = log.Append(RunRecord(report, Context(run, options, exitCode)));
        // The unit's outcome stands whatever became of its record.
        if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
    }
    return exitCode;
}
}

int RunCommandLine(const QStringList& arguments)
{
    TInterruptWatch interrupts;
    TTerminal terminal;
    terminal.Interactive = IsTerminal(0);
    terminal.OutputIsTerminal = IsTerminal(1);
    terminal.ClearsLines = terminal.OutputIsTerminal && TerminalClearsLines(1);
    TTerminalOperator runOperator(terminal, interrupts);
    TProgrammingRun run(runOperator, StoredImage, StoredImageDigest);
    runOperator.SetRun(&run);
    interrupts.SetHandler([&runOperator] { runOperator.Interrupt(); });

    const TCommandLine commandLine = ParseCommandLine(arguments, *run.ConnectInfo().ConnectPort, Description());
    switch (commandLine.Action) {
    case TCliAction::Usage: return Usage(commandLine.Error);
    case TCliAction::Help: std::printf("%s", commandLine.Help.c_str()); return ecSuccess;
    case TCliAction::Version:
        std::printf("%s %s\n", ProgramName().c_str(), QCoreApplication::applicationVersion().toStdString().c_str());
        return ecSuccess;
    case TCliAction::Info:
        std::printf("%s", ImageInfoText(StoredImage).c_str());
        if (IsImageValid(StoredImage)) return ecSuccess;
        std::fprintf(stderr, "%s\n", NoValidImage);
        return ecImageInvalid;
    case TCliAction::ListPorts: try { PrintPortList(stdout);
        } catch (const EComPort& failure) {
            std::fprintf(stderr, "%s\n", failure.what());
            return ecPortError;
        }
        return ecSuccess;
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
