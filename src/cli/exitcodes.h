// The exit status of morvex-flash-cli: 0 for a programmed unit, one code for
// each kind of failure that can end a run, and one for a command line that
// cannot be carried out as written. A production bench script tells the
// failures apart by these numbers, so a code once documented never changes.
#pragma once

#include "run/runsteps.h"

#include <span>
#include <string>

enum TExitCode : int {
    ecSuccess = 0,
    ecInternal = 1, // a failure outside the kinds below, or output that could not be written
    ecUsage = 2,    // bad options, or a log that cannot be opened for appending
    ecCancelled = 3,
    ecPortError = 4,
    ecNoReply = 5,
    ecUnitIdentity = 6,
    ecImageInvalid = 7,
    ecEraseFailed = 8,
    ecProgramFailed = 9,
    ecReadFailed = 10,
    ecVerifyDifference = 11,
    ecLogNotWritten = 12, // the unit was programmed, but its record is not (wholly) in the log
    ecImageDiffers = 13,  // --verify-only: the unit's flash is not this image
    ecSomeUnitsFailed = 14, // a gang or a station: not every unit passed (each unit's own code is in its record)
};

// The code of a run's outcome. A verify-only run that finds the flash
// different has found what it was asked about, not a faulty unit: it has a
// code of its own.
TExitCode ExitCodeFor(TFailureKind kind, bool verifyOnly = false);

struct TExitCodeMeaning {
    TExitCode Code;
    const char* Meaning;
};

// Every code with what it means, in order of code: the one table --help
// prints and the guide and the manual page are tested against. A new code
// goes at the end, here and in both documents.
std::span<const TExitCodeMeaning> ExitCodeMeanings();

// The table for --help: one line per code with what it means.
std::string ExitCodeTable();
