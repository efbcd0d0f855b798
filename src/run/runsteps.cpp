#include "run/runsteps.h"

#include "image/encryptedstream.h"
#include "protocol/compare.h"
#include "protocol/loaderprotocol.h"
#include "serial/devicechannel.h"
#include "target/flashtarget.h"

#include <string_view>

namespace {
constexpr std::string_view ConnectCancelled = "Connect Cancelled by User";

// The messages by which the unit turns out to be another model than the
// image's, or to answer its identity query with something unreadable.
bool IsIdentityFailure(const std::exception& failure)
{
    const std::string_view message = failure.what();
    return dynamic_cast<const EConvertError*>(&failure) != nullptr || message == "Flash uP does not match definition";
}
}

const char* RunStepName(TRunStep step)
{
    switch (step) {
    case TRunStep::Wizard: return "wizard";
    case TRunStep::PortSettings: return "port-settings";
    case TRunStep::ConnectUser: return "connect-user";
    case TRunStep::BootQuestion: return "boot-question";
    case TRunStep::ConnectBoot: return "connect-boot";
    case TRunStep::Decipher: return "decipher";
    case TRunStep::Check: return "check";
    case TRunStep::Erase: return "erase";
    case TRunStep::Program: return "program";
    case TRunStep::Verify: return "verify";
    case TRunStep::Reset: return "reset";
    }
    return "unknown";
}

const char* FailureKindName(TFailureKind kind)
{
    switch (kind) {
    case TFailureKind::None: return "none";
    case TFailureKind::Cancelled: return "cancelled";
    case TFailureKind::PortError: return "port-error";
    case TFailureKind::NoReply: return "no-reply";
    case TFailureKind::UnitIdentity: return "unit-identity";
    case TFailureKind::ImageInvalid: return "image-invalid";
    case TFailureKind::EraseFailed: return "erase-failed";
    case TFailureKind::ProgramFailed: return "program-failed";
    case TFailureKind::ReadFailed: return "read-failed";
    case TFailureKind::VerifyDifference: return "verify-difference";
    case TFailureKind::Interrupted: return "interrupted";
    }
    return "unknown";
}

TFailureKind ClassifyFailure(TRunStep step, const std::exception& failure, bool identityChanged)
{
    if (const auto* interrupted = dynamic_cast<const ERunInterrupted*>(&failure))
        return interrupted->UnitChanged() ? TFailureKind::Interrupted : TFailureKind::Cancelled;
    if (failure.what() == ConnectCancelled) return TFailureKind::Cancelled;
    // A port that fails is the port's fault in whatever step it fails.
    if (dynamic_cast<const EComPort*>(&failure)) return TFailureKind::PortError;
    // Only the read-back's comparison raises this; a verify-only run
    // restarts the unit after it and still fails by the difference.
    if (dynamic_cast<const ECompareException*>(&failure)) return TFailureKind::VerifyDifference;
    switch (step) {
    case TRunStep::Wizard:
    case TRunStep::PortSettings:
    case TRunStep::BootQuestion: return TFailureKind::Cancelled;
    case TRunStep::ConnectUser:
    case TRunStep::ConnectBoot:
        if (IsIdentityFailure(failure)) return TFailureKind::UnitIdentity;
        // A unit type without a target class: the image names no model.
        if (dynamic_cast<const EHitachiFlashException*>(&failure)) return TFailureKind::ImageInvalid;
        return TFailureKind::NoReply;
    case TRunStep::Decipher: return TFailureKind::ImageInvalid;
    case TRunStep::Check:
        // The identity passed at connect: one that reads otherwise now was
        // spoiled on the line, and what was checked against it (the size,
        // the checksum seed) says nothing about the unit or the image. A
        // bench must not set a good unit aside for it.
        if (dynamic_cast<const EMorvexComTimeout*>(&failure) || identityChanged) return TFailureKind::NoReply;
        if (IsIdentityFailure(failure)) return TFailureKind::UnitIdentity;
        return TFailureKind::ImageInvalid;
    case TRunStep::Erase: return TFailureKind::EraseFailed;
    case TRunStep::Program: return TFailureKind::ProgramFailed;
    case TRunStep::Verify: return TFailureKind::ReadFailed;
    case TRunStep::Reset: return TFailureKind::NoReply;
    }
    return TFailureKind::NoReply;
}
