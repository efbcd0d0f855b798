// One unit's run as the command line carries it out: the run itself, its
// exit code, its record in the log and, for a gang's parent, the result in
// the progress feed. A single run, each unit of a station and each child of
// a gang go through here.
#pragma once

#include "cli/options.h"
#include "run/runsteps.h"

#include <string>

class TProgrammingRun;
class TRunLog;
class TTerminalOperator;

// What the program says of an embedded image that is not one to program.
inline constexpr const char* NoValidImage = "No Valid FLASH Image Present!";

struct TUnitResult {
    TRunReport Report;
    int ExitCode = 0;
};

// The record and code of a run that could not begin: the image is not one
// to program, or the adapter named is not there.
TUnitResult NoRun(TFailureKind kind, const std::string& message, int exitCode);

// Puts the port an adapter name (usb:VID:PID[:SERIAL]) stands for in place
// of the name: "" when there is one such port, otherwise why not. Other
// names are left as they are.
std::string ResolveUsbPort(TCliOptions& options);

// Opens the log the options name (none: nothing to do): "" when it is open
// or not asked for, otherwise why it cannot be.
std::string OpenRunLog(TRunLog& log, const TCliOptions& options);

// Runs the unit once; the image is checked first and a run that cannot
// begin is reported as such. The code is the run's alone. adapterWarning:
// say first what the port's adapter settings cost (once per port is enough).
TUnitResult ExecuteUnitRun(TProgrammingRun& run, TTerminalOperator& runOperator, const TCliOptions& options,
                           bool adapterWarning = true);

// Appends the unit's record to the log when one is open and, with the
// feed, tells the parent the outcome. Returns the unit's final code: a
// programmed unit whose record could not be written is not a plain success.
int FinishUnitRun(const TProgrammingRun& run, const TCliOptions& options, TRunLog& log, const TUnitResult& result);

// The program's name for messages ("morvex-flash-cli").
std::string ProgramName();
