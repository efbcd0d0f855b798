#include "cli/cliprogram.h"

#include "cli/exitcodes.h"
#include "cli/gang.h"
#include "cli/imageinfo.h"
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/portlist.h"
#include "cli/runlog.h"
#include "cli/station.h"
#include "cli/terminaloperator.h"
#include "cli/unitrun.h"
#include "image/imagedigest.h"
#include "image/storedimage.h"
#include "run/programmingrun.h"
#include "serial/devicechannel.h"
#include "serial/portnames.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
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

// The log is the bench's record of each unit: without it no unit is
// touched at all. False, with the reason said, when it cannot be opened.
bool LogOpens(TRunLog& log, const TCliOptions& options)
{
    const std::string error = OpenRunLog(log, options);
    if (error.empty()) return true;
    std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), error.c_str());
    return false;
}

// One unit, or a station's units one after another, on one port.
int ProgramOnOnePort(TProgrammingRun& run, TTerminalOperator& runOperator, TInterruptWatch& interrupts,
                     const TCliOptions& options)
{
    TRunLog log;
    if (!LogOpens(log, options)) return ecUsage;
    TCliOptions resolved = options;
    const std::string portError = IsImageValid(run.Image()) ? ResolveUsbPort(resolved) : "";
    if (!portError.empty()) {
        std::fprintf(stderr, "%s\n", portError.c_str());
        return FinishUnitRun(run, resolved, log, NoRun(TFailureKind::PortError, portError, ecPortError));
    }
    // A station with an image that no unit can take would fail unit after unit.
    if (resolved.Repeat && IsImageValid(run.Image()))
        return TStation(run, runOperator, interrupts, resolved, log).Run();
    return FinishUnitRun(run, resolved, log, ExecuteUnitRun(run, runOperator, resolved));
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

int RunCommandLine(const QStringList& arguments, const TStoredImage& image, const TImageDigest& digest,
                   const QStringList& unitCommand)
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
    case TCliAction::ListPorts: try { PrintPortList(stdout, commandLine.Json);
        } catch (const EComPort& failure) {
            std::fprintf(stderr, "%s\n", failure.what());
            return ecPortError;
        }
        return Printed(ecSuccess);
    case TCliAction::Program:
    case TCliAction::Gang: break;
    }
    try {
        // A gang's units each append to the log themselves; it is tried
        // here first so that a log nobody can write stops them all at once.
        // An image no unit can take gets its one record and code instead.
        if (commandLine.Action == TCliAction::Gang && IsImageValid(image)) {
            TRunLog log;
            if (!LogOpens(log, commandLine.Options)) return ecUsage;
            return TGang(commandLine.Options, interrupts, terminal, unitCommand).Run();
        }
        return ProgramOnOnePort(run, runOperator, interrupts, commandLine.Options);
    } catch (const std::exception& failure) {
        // The run reports its own failures; anything here is outside it.
        std::fprintf(stderr, "%s\n", failure.what());
        return ecInternal;
    }
}
