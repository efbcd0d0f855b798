#include "cli/station.h"

#include "cli/exitcodes.h"
#include "cli/interrupts.h"
#include "cli/terminaloperator.h"
#include "cli/unitrun.h"
#include "run/programmingrun.h"
#include "run/wizardpage.h"

#include <QTimer>
#include <cstdio>

namespace {
// The run got no further than the user method: no unit answered it.
bool NoUnitAnswered(const TRunReport& report)
{
    if (report.Succeeded || report.Steps.empty()) return false;
    const TRunStep last = report.Steps.back().Step;
    return last == TRunStep::ConnectUser || last == TRunStep::BootQuestion;
}

// The operator left at the cabling page (Ctrl-C, end of input): no unit was
// talked to, and the station ends there.
bool LeftAtTheCablingPage(const TRunReport& report)
{
    return !report.Succeeded && !report.Steps.empty() && report.Steps.back().Step == TRunStep::Wizard;
}
}

TStation::TStation(TProgrammingRun& run, TTerminalOperator& runOperator, TInterruptWatch& interrupts,
                   const TCliOptions& options, TRunLog& log)
    : FRun(run), FOperator(runOperator), FInterrupts(interrupts), FOptions(options), FLog(log)
{
    FInterrupts.SetHandler([this] { Interrupted(); });
}

TStation::~TStation()
{
    FOperator.SetProbe(TTerminalOperator::TProbe::None);
    FInterrupts.SetHandler([this] { FOperator.Interrupt(); });
}

void TStation::Interrupted()
{
    FInterrupted = true;
    if (FInUnit) {
        FOperator.Interrupt();
    } else {
        std::fprintf(stderr, "Interrupted: the station ends\n");
        FPause.quit();
    }
}

bool TStation::Pause()
{
    QTimer::singleShot(StationProbeIntervalMs, &FPause, &QEventLoop::quit);
    if (!FInterrupted) FPause.exec();
    return !FInterrupted;
}

TUnitResult TStation::RunUnit()
{
    FInUnit = true;
    TUnitResult result = ExecuteUnitRun(FRun, FOperator, FOptions, FFirstRun);
    FFirstRun = false;
    FInUnit = false;
    return result;
}

TStation::TProbeAnswer TStation::Probe(bool presence, TUnitResult& result)
{
    FOperator.SetProbe(presence ? TTerminalOperator::TProbe::Presence : TTerminalOperator::TProbe::Arrival);
    result = RunUnit();
    FOperator.SetProbe(TTerminalOperator::TProbe::None);
    if (FInterrupted) return TProbeAnswer::Interrupted;
    return NoUnitAnswered(result.Report) ? TProbeAnswer::NoUnit : TProbeAnswer::Unit;
}

bool TStation::NextUnit(TUnitResult& result)
{
    const bool interactive = IsTerminal(0);
    if (interactive) {
        // The cabling page waits for Enter itself unless --yes passes it.
        const bool pageWaits = !FOptions.AssumeYes && WizardPage(UnitType(FRun.Image()));
        if (!pageWaits && !FOperator.WaitForEnter("Next unit: connect it and press Enter (Ctrl-C ends the station): "))
            return false;
    } else {
        Say("Station: take the unit off " + FOptions.Port + "; the user method is tried every " +
            std::to_string(StationProbeIntervalMs / 1000) + " s");
        // The unit just programmed answers until it is taken off.
        for (;;) {
            if (!Pause()) return false;
            const TProbeAnswer answer = Probe(true, result);
            if (answer == TProbeAnswer::Interrupted) return false;
            if (answer == TProbeAnswer::NoUnit) break;
        }
        Say("Station: no unit on " + FOptions.Port + "; connect the next one");
        for (;;) {
            if (!Pause()) return false;
            const TProbeAnswer answer = Probe(false, result);
            if (answer == TProbeAnswer::Interrupted) return !NoUnitAnswered(result.Report);
            if (answer == TProbeAnswer::Unit) return true;
        }
    }
    result = RunUnit();
    return true;
}

void TStation::Say(const std::string& text)
{
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void TStation::Tally(int unit, int exitCode)
{
    (exitCode == ecSuccess ? FPassed : FFailed) += 1;
    std::printf("Station: unit %d %s (exit %d); %d passed, %d failed\n", unit,
                exitCode == ecSuccess ? "passed" : "failed", exitCode, FPassed, FFailed);
    std::fflush(stdout);
}

int TStation::Run()
{
    for (int unit = 1; FOptions.Count == 0 || unit <= FOptions.Count; ++unit) {
        TUnitResult result;
        if (unit == 1) {
            result = RunUnit();
        } else if (FInterrupted || !NextUnit(result)) {
            break;
        }
        if (LeftAtTheCablingPage(result.Report)) break;
        Tally(unit, FinishUnitRun(FRun, FOptions, FLog, result));
        if (FInterrupted) break;
    }
    std::printf("Station: %d unit%s, %d passed, %d failed\n", FPassed + FFailed, FPassed + FFailed == 1 ? "" : "s",
                FPassed, FFailed);
    std::fflush(stdout);
    return FFailed == 0 ? ecSuccess : ecSomeUnitsFailed;
}
