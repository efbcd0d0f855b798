#include "cli/exitcodes.h"

#include <cstdio>

namespace {
const TExitCodeMeaning Meanings[] = {
    {ecSuccess, "programmed and verified; with --verify-only, the unit holds the image"},
    {ecInternal, "internal error (none of the kinds below), or the output could not be written"},
    {ecUsage, "usage: bad options or values, or a log that cannot be appended to"},
    {ecCancelled, "cancelled: answered no, interrupted (Ctrl-C), or boot method not allowed"},
    {ecPortError, "port error: cannot be opened (in use, missing) or failed"},
    {ecNoReply, "no reply: the unit did not connect or did not answer"},
    {ecUnitIdentity, "unit identity: not the model the image is for"},
    {ecImageInvalid, "image invalid: no valid image, or size or checksum do not fit"},
    {ecEraseFailed, "erase failed"},
    {ecProgramFailed, "program failed"},
    {ecReadFailed, "read failed: the flash could not be read back"},
    {ecVerifyDifference, "verify difference: the flash read back differs from the image"},
    {ecLogNotWritten, "programmed, but the run log could not be written"},
    {ecImageDiffers, "--verify-only: the unit's flash differs from the image"},
    {ecSomeUnitsFailed, "some units failed: in a gang or a station not every unit passed"},
};
}

TExitCode ExitCodeFor(TFailureKind kind, bool verifyOnly)
{
    if (verifyOnly && kind == TFailureKind::VerifyDifference) return ecImageDiffers;
    switch (kind) {
    case TFailureKind::None: return ecSuccess;
    case TFailureKind::Cancelled:
    case TFailureKind::Interrupted: return ecCancelled;
    case TFailureKind::PortError: return ecPortError;
    case TFailureKind::NoReply: return ecNoReply;
    case TFailureKind::UnitIdentity: return ecUnitIdentity;
    case TFailureKind::ImageInvalid: return ecImageInvalid;
    case TFailureKind::EraseFailed: return ecEraseFailed;
    case TFailureKind::ProgramFailed: return ecProgramFailed;
    case TFailureKind::ReadFailed: return ecReadFailed;
    case TFailureKind::VerifyDifference: return ecVerifyDifference;
    }
    return ecInternal;
}

std::span<const TExitCodeMeaning> ExitCodeMeanings() { return Meanings; }

std::string ExitCodeTable()
{
    std::string table;
    for (const TExitCodeMeaning& entry : Meanings) {
        char line[160];
        std::snprintf(line, sizeof line, "  %2d  %s\n", int(entry.Code), entry.Meaning);
        table += line;
    }
    return table;
}
