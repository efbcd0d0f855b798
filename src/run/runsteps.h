// The steps of a programming run, the kinds of failure that can end it, and
// what a run leaves behind for whoever reports it (the command line's exit
// status and log, tests).
#pragma once

#include "core/exceptions.h"
#include "protocol/compare.h"

#include <chrono>
#include <exception>
#include <string>
#include <vector>

enum class TRunStep {
    Wizard,       // the cabling page
    PortSettings, // the operator confirms the serial settings
    ConnectUser,  // connection by the user method
    BootQuestion, // the operator is asked whether to try the boot method
    ConnectBoot,  // connection by the boot method
    Decipher,     // the stored image is deciphered and checked against its digest
    Check,        // size and checksum against the unit
    Erase,
    Program,
    Verify,
    Reset,
};

// A short lower-case name for logs and progress lines ("connect-user", ...).
const char* RunStepName(TRunStep step);

// A run that was asked to stop ends at the next step or block boundary
// with this failure; what was already erased or written stays so. Before
// the erase the unit has only been talked to, and the operator may put it
// back in the box; from the erase on it needs another run.
class ERunInterrupted : public Exception {
public:
    explicit ERunInterrupted(bool unitChanged)
        : Exception(unitChanged ? "Run interrupted: the unit may be partly programmed"
                                : "Run interrupted: nothing on the unit was changed",
                    unitChanged ? TFailureCause::Interrupted : TFailureCause::Cancelled),
          FUnitChanged(unitChanged)
    {
    }
    bool UnitChanged() const { return FUnitChanged; }

private:
    bool FUnitChanged;
};

// Each kind has its own exit status in the command-line program; the order
// is the documented one, so keep new kinds at the end.
enum class TFailureKind {
    None,
    Cancelled,    // the operator cancelled, answered No, or interrupted the run before the erase
    PortError,    // the port could not be opened or failed (unplugged adapter)
    NoReply,      // the unit did not connect or a reply did not arrive
    UnitIdentity, // the unit is not the model the image is for
    ImageInvalid, // no valid image, or its size or checksum does not fit
    EraseFailed,
    ProgramFailed,
    ReadFailed,
    VerifyDifference, // the flash read back differs from the image
    Interrupted,      // stopped from the erase on: the unit may be partly programmed
};

const char* FailureKindName(TFailureKind kind);

// The kind of a failure raised in a step, told by its cause (what the code
// that raised it knew) and the step, never by its message. identityChanged: the unit's
// identity reply differed from the one that passed at connect (or did not
// parse), which at the image check makes the failure a line fault.
TFailureKind ClassifyFailure(TRunStep step, const std::exception& failure, bool identityChanged = false);

struct TStepRecord {
    TRunStep Step;
    std::chrono::system_clock::time_point Started;
    double Seconds = 0;
};

// What one run did: every step it began, in order, with its duration; the
// identity text the unit reported; what failed in the background; the
// outcome.
struct TRunReport {
    std::chrono::system_clock::time_point Started;
    std::chrono::system_clock::time_point Ended;
    std::vector<TStepRecord> Steps;
    std::string IdentityText;
    std::vector<std::string> BackgroundFailures; // the keep-alive's messages, as they came
    bool Succeeded = false;
    TFailureKind Failure = TFailureKind::None;
    std::string Message; // the success text or the failure's message
    TDifferences Differences; // where the read-back differed from the image (flash addresses)
};
