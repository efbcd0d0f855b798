// Station mode (--repeat, --count): unit after unit on one port, with a
// tally of passed and failed units printed after each unit and at the end.
//
// One run object serves every unit, as the window's Start button does: the
// operator's settings stay in it, and the run starts each unit afresh (its
// stop request, failure kind and report are its own).
//
// Between units the station waits for the next one: on a terminal for
// Enter (the cabling page's own Enter when it shows one); without a
// terminal by trying the user method every few seconds, first until the
// last unit no longer answers (it was taken off: the station says so), then
// until a unit answers, whose run that is. A unit swapped faster than one
// try would pass for the last one still there: the operator waits for the
// station's word before connecting the next. Ctrl-C between units ends the station at once; during
// a unit, at the run's next safe point, after which the station ends.
#pragma once

#include "cli/options.h"

#include <QEventLoop>
#include <string>

class TInterruptWatch;
class TProgrammingRun;
class TRunLog;
class TTerminalOperator;
struct TUnitResult;

class TStation {
public:
    TStation(TProgrammingRun& run, TTerminalOperator& runOperator, TInterruptWatch& interrupts,
             const TCliOptions& options, TRunLog& log);
    ~TStation(); // gives Ctrl-C back to the operator

    // The whole station: 0 when every unit passed, otherwise the code for
    // some units failing.
    int Run();

private:
    enum class TProbeAnswer { Unit, NoUnit, Interrupted };
    // The next unit's run; false when the station ends before one.
    bool NextUnit(TUnitResult& result);
    TUnitResult RunUnit();
    // One quiet run that tries the user method alone.
    TProbeAnswer Probe(bool presence, TUnitResult& result);
    // The pause between two tries; false when Ctrl-C ended it.
    bool Pause();
    void Interrupted();
    void Tally(int unit, int exitCode);
    void Say(const std::string& text);

    TProgrammingRun& FRun;
    TTerminalOperator& FOperator;
    TInterruptWatch& FInterrupts;
    const TCliOptions& FOptions;
    TRunLog& FLog;
    QEventLoop FPause;
    bool FInterrupted = false;
    bool FInUnit = false;
    bool FFirstRun = true; // the port's adapter warning goes with the first run only
    int FPassed = 0;
    int FFailed = 0;
};

// How long the station waits between two tries of the user method.
constexpr int StationProbeIntervalMs = 3000;
