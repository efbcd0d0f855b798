// What a gang shows: one live line per unit while the units are programmed,
// and the summary table at the end.
#pragma once

#include <string>
#include <vector>

struct TGangUnit {
    std::string Port;
    std::string AdapterSerial; // "" when the port is not a USB adapter with one
    // As the unit's process reports it while it runs.
    std::string Step; // "" before the first report
    int Percent = -1; // -1: the step has no range
    long long BitRate = -1;
    int SecondsLeft = -1;
    // Once the process has ended.
    bool Ended = false;
    std::string Identity; // the unit's identity text, "" when it did not answer
    std::string Result;   // "passed", "failed: no-reply", "ended by a signal", ...
    int ExitCode = -1;    // -1: the process gave none (a signal ended it, it did not start)
    double Seconds = 0;
};

// The unit's live line, its port fitted to portWidth (padded, or its end
// kept) and the whole cut to width, so that a line never wraps and the
// table can be redrawn in place.
std::string GangLiveLine(const TGangUnit& unit, size_t portWidth, size_t width);

// The table of every unit: port, adapter serial, unit identity, result,
// time and exit code, a header line first.
std::string GangSummary(const std::vector<TGangUnit>& units);
