#include "run/runsteps.h"

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
    const TFailureCause cause = FailureCause(failure);
    switch (cause) {
    case TFailureCause::Cancelled: return TFailureKind::Cancelled;
    case TFailureCause::Interrupted: return TFailureKind::Interrupted;
    // A port that fails is the port's fault in whatever step it fails.
    case TFailureCause::PortError: return TFailureKind::PortError;
    // Only the read-back's comparison raises this; a verify-only run
    // restarts the unit after it and still fails by the difference.
    case TFailureCause::Difference: return TFailureKind::VerifyDifference;
    default: break;
    }
    switch (step) {
    case TRunStep::Wizard:
    case TRunStep::PortSettings:
    case TRunStep::BootQuestion: return TFailureKind::Cancelled;
    case TRunStep::ConnectUser:
    case TRunStep::ConnectBoot:
        if (cause == TFailureCause::WrongUnit) return TFailureKind::UnitIdentity;
        // A unit type without a target class: the image names no model.
        if (cause == TFailureCause::ImageInvalid) return TFailureKind::ImageInvalid;
        return TFailureKind::NoReply;
    case TRunStep::Decipher: return TFailureKind::ImageInvalid;
    case TRunStep::Check:
        // The identity passed at connect: one that reads otherwise now was
        // spoiled on the line, and what was checked against it (the size,
        // the checksum seed) says nothing about the unit or the image. A
        // bench must not set a good unit aside for it.
        if (cause == TFailureCause::NoReply || identityChanged) return TFailureKind::NoReply;
        if (cause == TFailureCause::WrongUnit) return TFailureKind::UnitIdentity;
        return TFailureKind::ImageInvalid;
    case TRunStep::Erase: return TFailureKind::EraseFailed;
    case TRunStep::Program: return TFailureKind::ProgramFailed;
    case TRunStep::Verify: return TFailureKind::ReadFailed;
    case TRunStep::Reset: return TFailureKind::NoReply;
    }
    return TFailureKind::NoReply;
}
