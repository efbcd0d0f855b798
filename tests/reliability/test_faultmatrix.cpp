// Every phase of a programming run against every way the unit's reply can
// go wrong: silence, a wrong byte, a short reply, noise before the reply, a
// reply slower than the time-out, and a hang-up of the line. Each run must
// end with the message of its failure (and its class), send nothing after
// the step that failed, and leave the port closed.
//
// Combinations that cannot go wrong are left out: the reset frame has no
// reply (only a hang-up applies to it), and a boot method whose every
// attempt is answered late still connects on a later attempt (shown by the
// single late reply below).
#include "runfixture.h"

#include <regex>

namespace {

const char* const Timeout = "No Reply Within Time Out Period";
const char* const Cancelled = "Connect Cancelled by User";
// The unit vanished under a transfer: the write or the read that was under
// way when the line dropped fails, with the system's "I/O error".
const char* const PortGone =
    "ReadFile function failed (win error code: 5)|WriteFile function failed (win error code: 5)";
const char* const NoStartReply = "No reply to start command";
const char* const AckMismatch = "Acknowledge data doesn't match";
const char* const BadIdentity = "Bad Device Identity String";
const char* const BadChecksum = "Flash and Image Checksums don't match";
const char* const EraseReply = "Erase Failed: Unexpected Reply";
const char* const WriteNoReply = "Write Failed: No reply";
const char* const WriteResponse = "Write Failed: Unexpected response";
const char* const ReadNoReply = "Read Failed: No reply";

// 240 program blocks of 128 bytes and 960 read blocks of 32 bytes cover
// the 4620's area of 0x7800 bytes.
constexpr int kLastProgramBlock = 239;
constexpr int kLastReadBlock = 959;

struct TScenario {
    const char* Name;
    TFramePhase Phase;
    int Index; // -1: every frame of the phase
    TFaultKind Kind;
    uint32_t Value;            // 0: the fault's default
    bool BootOnly;             // the firmware ignores its command: only the boot method connects
    const char* Question;      // the failure named in the boot question; nullptr: not asked
    bool AnswerYes;            // the operator's answer to it
    const char* Class;         // nullptr: the run succeeds
    const char* Message;       // alternatives split by '|'; '#' stands for a decimal number
    const char* LastHostFrame; // the step that failed (alternatives split by '|')
    bool MaySucceed = false;   // a hang-up after the last frame has left may go unnoticed
};

std::ostream& operator<<(std::ostream& out, const TScenario& s) { return out << s.Name; }

// Short names for the table: Silence, Wrong byte, sHort reply, Noise, Late
// (slower than the time-out), hang-Up.
constexpr TFaultKind S = fkSilence, W = fkWrongReply, H = fkShortReply, N = fkNoise, L = fkSlowReply, U = fkHangUp;
constexpr uint32_t kSlowerThanTransfer = 5500; // erase and program statuses have 5 s

// clang-format off
const TScenario Scenarios[] = {
    // Connect by the user method: every failure is the question; the operator declines.
    {"UserConnect_Silence", fpConnect, 0, S, 0, false, NoStartReply, false, "EHitachiFlashException", Cancelled, "user command"},
    {"UserConnect_Wrong", fpConnect, 0, W, 0, false, "Reply doesn't match", false, "EHitachiFlashException", Cancelled, "user command"},
    {"UserConnect_Short", fpConnect, 0, H, 0, false, NoStartReply, false, "EHitachiFlashException", Cancelled, "user command"},
    {"UserConnect_Noise", fpConnect, 0, N, 0, false, "Reply doesn't match", false, "EHitachiFlashException", Cancelled, "user command"},
    {"UserConnect_Slow", fpConnect, 0, L, 0, false, NoStartReply, false, "EHitachiFlashException", Cancelled, "user command"},
    {"UserConnect_HangUp", fpConnect, 0, U, 0, false, NoStartReply, false, "EHitachiFlashException", Cancelled, "user command"},
    // Connect by the boot method after the firmware ignored its command.
    {"BootConnect_SilenceAlways", fpConnect, -1, S, 0, true, NoStartReply, true, "EFDTException", "No reply to connect command", "connect word"},
    {"BootConnect_SilenceOnce", fpConnect, 0, S, 0, true, NoStartReply, true, nullptr, nullptr, "reset"},
    {"BootConnect_WrongAlways", fpConnect, -1, W, 0, true, NoStartReply, true, "EFDTException", "Unexpected reply to connect command", "connect word"},
    {"BootConnect_ShortAlways", fpConnect, -1, H, 0, true, NoStartReply, true, "EFDTException", "No reply to connect command", "connect word"},
    {"BootConnect_NoiseAlways", fpConnect, -1, N, 0, true, NoStartReply, true, "EFDTException", "Unexpected reply to connect command", "connect word|user command (again)"},
    {"BootConnect_SlowOnce", fpConnect, 0, L, 0, true, NoStartReply, true, nullptr, nullptr, "reset"},
    {"BootConnect_HangUp", fpConnect, 0, U, 0, true, NoStartReply, true, "EComPort", PortGone, "connect word"},
    // Speed change: the unit's byte R, then the "ABCDE" echo at the new rate.
    // The fault strikes the user method and again the boot method the operator asks for.
    {"SpeedReply_Silence", fpSpeedReply, 0, S, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "speed-change request"},
    {"SpeedReply_Wrong", fpSpeedReply, 0, W, 0, false, AckMismatch, true, "EFDTException", AckMismatch, "speed-change check"},
    {"SpeedReply_Short", fpSpeedReply, 0, H, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "speed-change request"},
    {"SpeedReply_Noise", fpSpeedReply, 0, N, 0, false, AckMismatch, true, "EFDTException", AckMismatch, "speed-change check"},
    {"SpeedReply_Slow", fpSpeedReply, 0, L, 0, false, Timeout, false, "EHitachiFlashException", Cancelled, "speed-change request"},
    {"SpeedReply_HangUp", fpSpeedReply, 0, U, 0, false, PortGone, false, "EHitachiFlashException", Cancelled, "speed-change request"},
    {"SpeedEcho_Silence", fpSpeedEcho, 0, S, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "speed-change check"},
    {"SpeedEcho_Wrong", fpSpeedEcho, 0, W, 0, false, AckMismatch, true, "EFDTException", AckMismatch, "speed-change check"},
    {"SpeedEcho_Short", fpSpeedEcho, 0, H, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "speed-change check"},
    {"SpeedEcho_Noise", fpSpeedEcho, 0, N, 0, false, AckMismatch, true, "EFDTException", AckMismatch, "speed-change check"},
    {"SpeedEcho_Slow", fpSpeedEcho, 0, L, 0, false, Timeout, false, "EHitachiFlashException", Cancelled, "speed-change check"},
    {"SpeedEcho_HangUp", fpSpeedEcho, 0, U, 0, false, PortGone, false, "EHitachiFlashException", Cancelled, "speed-change check"},
    // The identity query that ends the link: its text is only proof of life,
    // so a spoiled text is no failure.
    {"LinkIdentity_Silence", fpIdentity, 0, S, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "identity query"},
    {"LinkIdentity_Wrong", fpIdentity, 0, W, 0, false, nullptr, false, nullptr, nullptr, "reset"},
    {"LinkIdentity_Short", fpIdentity, 0, H, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "identity query"},
    {"LinkIdentity_Noise", fpIdentity, 0, N, 0, false, nullptr, false, nullptr, nullptr, "reset"},
    {"LinkIdentity_Slow", fpIdentity, 0, L, 0, false, Timeout, false, "EHitachiFlashException", Cancelled, "identity query"},
    {"LinkIdentity_HangUp", fpIdentity, 0, U, 0, false, PortGone, false, "EHitachiFlashException", Cancelled, "identity query"},
    // The identity that connecting checks: only start and size count, which
    // a spoiled first byte leaves intact. Noise shifts the whole text out of
    // step with the scrambling counter: what is left has too few colons.
    {"ConnectIdentity_Silence", fpIdentity, 1, S, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "identity query"},
    {"ConnectIdentity_Wrong", fpIdentity, 1, W, 0, false, nullptr, false, nullptr, nullptr, "reset"},
    {"ConnectIdentity_Short", fpIdentity, 1, H, 0, false, Timeout, true, "EMorvexComTimeout", Timeout, "identity query"},
    {"ConnectIdentity_Noise", fpIdentity, 1, N, 0, false, BadIdentity, true, "EConvertError", BadIdentity, "identity query"},
    {"ConnectIdentity_Slow", fpIdentity, 1, L, 0, false, Timeout, false, "EHitachiFlashException", Cancelled, "identity query"},
    {"ConnectIdentity_HangUp", fpIdentity, 1, U, 0, false, PortGone, false, "EHitachiFlashException", Cancelled, "identity query"},
    // Check: the identity read to test the image's size and checksum. A
    // spoiled first byte spoils the seed.
    {"Check_Silence", fpIdentity, 2, S, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "identity query"},
    {"Check_Wrong", fpIdentity, 2, W, 0, false, nullptr, false, "EFDTException", BadChecksum, "identity query"},
    {"Check_Short", fpIdentity, 2, H, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "identity query"},
    {"Check_Noise", fpIdentity, 2, N, 0, false, nullptr, false, "EConvertError", BadIdentity, "identity query"},
    {"Check_Slow", fpIdentity, 2, L, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "identity query"},
    {"Check_HangUp", fpIdentity, 2, U, 0, false, nullptr, false, "EComPort", PortGone, "identity query"},
    // Erase status, 5 s.
    {"Erase_Silence", fpErase, 0, S, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "erase length"},
    {"Erase_Wrong", fpErase, 0, W, 0, false, nullptr, false, "EFDTException", EraseReply, "erase length"},
    {"Erase_Short", fpErase, 0, H, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "erase length"},
    {"Erase_Noise", fpErase, 0, N, 0, false, nullptr, false, "EFDTException", EraseReply, "erase length"},
    {"Erase_Slow", fpErase, 0, L, kSlowerThanTransfer, false, nullptr, false, "EMorvexComTimeout", Timeout, "erase length"},
    {"Erase_HangUp", fpErase, 0, U, 0, false, nullptr, false, "EComPort", PortGone, "erase length"},
    // Program block statuses, 5 s: the first, one in the middle, the last.
    {"ProgramFirst_Silence", fpProgramBlock, 0, S, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 0"},
    {"ProgramFirst_Wrong", fpProgramBlock, 0, W, 0, false, nullptr, false, "EFDTException", WriteResponse, "program block 0"},
    {"ProgramFirst_Short", fpProgramBlock, 0, H, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 0"},
    {"ProgramFirst_Noise", fpProgramBlock, 0, N, 0, false, nullptr, false, "EFDTException", WriteResponse, "program block 0"},
    {"ProgramFirst_Slow", fpProgramBlock, 0, L, kSlowerThanTransfer, false, nullptr, false, "EFDTException", WriteNoReply, "program block 0"},
    {"ProgramFirst_HangUp", fpProgramBlock, 0, U, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 0"},
    {"ProgramMiddle_Silence", fpProgramBlock, 120, S, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 120"},
    {"ProgramMiddle_Wrong", fpProgramBlock, 120, W, 0, false, nullptr, false, "EFDTException", WriteResponse, "program block 120"},
    {"ProgramMiddle_Short", fpProgramBlock, 120, H, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 120"},
    {"ProgramMiddle_Noise", fpProgramBlock, 120, N, 0, false, nullptr, false, "EFDTException", WriteResponse, "program block 120"},
    {"ProgramMiddle_Slow", fpProgramBlock, 120, L, kSlowerThanTransfer, false, nullptr, false, "EFDTException", WriteNoReply, "program block 120"},
    {"ProgramMiddle_HangUp", fpProgramBlock, 120, U, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 120"},
    {"ProgramLast_Silence", fpProgramBlock, kLastProgramBlock, S, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 239"},
    {"ProgramLast_Wrong", fpProgramBlock, kLastProgramBlock, W, 0, false, nullptr, false, "EFDTException", WriteResponse, "program block 239"},
    {"ProgramLast_Short", fpProgramBlock, kLastProgramBlock, H, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 239"},
    {"ProgramLast_Noise", fpProgramBlock, kLastProgramBlock, N, 0, false, nullptr, false, "EFDTException", WriteResponse, "program block 239"},
    {"ProgramLast_Slow", fpProgramBlock, kLastProgramBlock, L, kSlowerThanTransfer, false, nullptr, false, "EFDTException", WriteNoReply, "program block 239"},
    {"ProgramLast_HangUp", fpProgramBlock, kLastProgramBlock, U, 0, false, nullptr, false, "EFDTException", WriteNoReply, "program block 239"},
    // The closing status after the host's last 0x00.
    {"ProgramClose_Silence", fpProgramClose, 0, S, 0, false, nullptr, false, "EFDTException", WriteResponse, "closing acknowledge"},
    {"ProgramClose_Wrong", fpProgramClose, 0, W, 0, false, nullptr, false, "EFDTException", WriteResponse, "closing acknowledge"},
    {"ProgramClose_Short", fpProgramClose, 0, H, 0, false, nullptr, false, "EFDTException", WriteResponse, "closing acknowledge"},
    {"ProgramClose_Noise", fpProgramClose, 0, N, 0, false, nullptr, false, "EFDTException", WriteResponse, "closing acknowledge"},
    {"ProgramClose_Slow", fpProgramClose, 0, L, kSlowerThanTransfer, false, nullptr, false, "EFDTException", WriteResponse, "closing acknowledge"},
    {"ProgramClose_HangUp", fpProgramClose, 0, U, 0, false, nullptr, false, "EFDTException", WriteResponse, "closing acknowledge"},
    // Read blocks, 500 ms: a missing first block is the channel's time-out,
    // a later one the protocol's own failure; spoiled bytes fail the comparison.
    {"ReadFirst_Silence", fpReadBlock, 0, S, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "read length"},
    {"ReadFirst_Wrong", fpReadBlock, 0, W, 0, false, nullptr, false, "ECompareException", "Verify:\rFound 1 discrepencies starting at address 0x0.", "identity query"},
    {"ReadFirst_Short", fpReadBlock, 0, H, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "read length"},
    {"ReadFirst_Noise", fpReadBlock, 0, N, 0, false, nullptr, false, "ECompareException", "Verify:\rFound # discrepencies starting at address 0x0.", "identity query"},
    {"ReadFirst_Slow", fpReadBlock, 0, L, 0, false, nullptr, false, "EMorvexComTimeout", Timeout, "read length"},
    {"ReadFirst_HangUp", fpReadBlock, 0, U, 0, false, nullptr, false, "EComPort", PortGone, "read length"},
    {"ReadMiddle_Silence", fpReadBlock, 480, S, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    {"ReadMiddle_Wrong", fpReadBlock, 480, W, 0, false, nullptr, false, "ECompareException", "Verify:\rFound 1 discrepencies starting at address 0x3C00.", "identity query"},
    {"ReadMiddle_Short", fpReadBlock, 480, H, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    {"ReadMiddle_Noise", fpReadBlock, 480, N, 0, false, nullptr, false, "ECompareException", "Verify:\rFound # discrepencies starting at address 0x3C00.", "identity query"},
    {"ReadMiddle_Slow", fpReadBlock, 480, L, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    {"ReadMiddle_HangUp", fpReadBlock, 480, U, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    {"ReadLast_Silence", fpReadBlock, kLastReadBlock, S, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    {"ReadLast_Wrong", fpReadBlock, kLastReadBlock, W, 0, false, nullptr, false, "ECompareException", "Verify:\rFound 1 discrepencies starting at address 0x77E0.", "identity query"},
    {"ReadLast_Short", fpReadBlock, kLastReadBlock, H, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    {"ReadLast_Noise", fpReadBlock, kLastReadBlock, N, 0, false, nullptr, false, "ECompareException", "Verify:\rFound # discrepencies starting at address 0x77E0.", "identity query"},
    {"ReadLast_Slow", fpReadBlock, kLastReadBlock, L, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    {"ReadLast_HangUp", fpReadBlock, kLastReadBlock, U, 0, false, nullptr, false, "EFDTException", ReadNoReply, "read acknowledge"},
    // The reset has no reply. The unit hangs up once it has the command: the
    // run either never notices or fails the write that was still draining.
    {"Reset_HangUp", fpReset, 0, U, 0, false, nullptr, false, "EComPort", "WriteFile function failed (win error code: 5)", "reset", true},
};
// clang-format on

std::vector<std::string> Alternatives(const std::string& text)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t bar; (bar = text.find('|', from)) != std::string::npos; from = bar + 1)
        parts.push_back(text.substr(from, bar - from));
    parts.push_back(text.substr(from));
    return parts;
}

// True when the text is one of the pattern's alternatives, '#' standing
// for a decimal number.
bool Matches(const std::string& text, const std::string& pattern)
{
    for (const std::string& alternative : Alternatives(pattern)) {
        std::string expression;
        for (const char c : alternative) {
            if (c == '#')
                expression += "[0-9]+";
            else if (std::isalnum(static_cast<unsigned char>(c)) || c == ' ')
                expression += c;
            else
                (expression += '\\') += c;
        }
        if (std::regex_match(text, std::regex(expression))) return true;
    }
    return false;
}

// The kind the run gives a failure, as the command line's exit status
// reports it. Where the fault strikes in the flash operations the kind
// says which operation failed, so the run must know the step it is in; a
// port that vanished is the port's fault wherever it happens, and a
// declined boot method is the operator's choice.
TFailureKind ExpectedKind(const TScenario& s, const TRunOutcome& outcome)
{
    if (s.Question && !s.AnswerYes) return TFailureKind::Cancelled;
    if (outcome.FailureClass == "EComPort") return TFailureKind::PortError;
    switch (s.Phase) {
    case fpErase: return TFailureKind::EraseFailed;
    case fpProgramBlock:
    case fpProgramClose: return TFailureKind::ProgramFailed;
    case fpReadBlock:
        return outcome.FailureClass == "ECompareException" ? TFailureKind::VerifyDifference : TFailureKind::ReadFailed;
    default: break;
    }
    // The image check asks for the identity once more (the third reply):
    // the unit passed its identity at connect, so whatever spoils this one
    // is the line's doing, not another unit or a bad image.
    if (s.Phase == fpIdentity && s.Index == 2) return TFailureKind::NoReply;
    // Connecting: the unit is silent, or says something that shows it is
    // not the unit the image is for.
    if (outcome.FailureClass == "EConvertError") return TFailureKind::UnitIdentity;
    return TFailureKind::NoReply;
}

class FaultMatrix : public RunTest, public ::testing::WithParamInterface<TScenario> {};

TEST_P(FaultMatrix, RunEndsWithTheFailuresMessageSendsNothingMoreAndReleasesThePort)
{
    const TScenario& s = GetParam();
    TUnitSimOptions options = UnitOptions();
    options.FirmwareAnswersUserCommand = !s.BootOnly;
    TUnitFault fault;
    fault.Kind = s.Kind;
    fault.Phase = s.Phase;
    fault.Index = s.Index;
    if (s.Value) fault.Value = s.Value;
    options.Faults.push_back(fault);
    StartUnit(options);
    OperatorFor().Answers.BootYes = s.AnswerYes;

    const TRunOutcome outcome = RunOnce();

    if (s.Question) {
        EXPECT_TRUE(Matches(FailureInQuestion(outcome.Question), s.Question)) << outcome.Question;
    } else {
        EXPECT_EQ(outcome.Question, "");
    }
    if (s.Class && !(s.MaySucceed && outcome.Succeeded)) {
        EXPECT_FALSE(outcome.Succeeded);
        EXPECT_EQ(outcome.FailureClass, s.Class) << outcome.Message;
        EXPECT_TRUE(Matches(outcome.Message, s.Message)) << outcome.Message;
    } else {
        EXPECT_TRUE(outcome.Succeeded) << outcome.FailureClass << ": " << outcome.Message;
    }
    if (!outcome.Succeeded) {
        // The window is idle again before the failure's box appears.
        EXPECT_TRUE(outcome.EndedBeforeMessage);
        EXPECT_EQ(outcome.Kind, ExpectedKind(s, outcome)) << FailureKindName(outcome.Kind);
    }

    Unit->WaitForHostToLetGo();
    const std::vector<TSimFrame> frames = Unit->Transcript();
    const std::string faultText = "(" + FaultToText(fault) + ")";
    bool struck = false;
    for (const TSimFrame& frame : frames) struck = struck || frame.Label.find(faultText) != std::string::npos;
    EXPECT_TRUE(struck) << "the fault never struck";
    const std::string last = Unit->LastHostFrame();
    EXPECT_TRUE(Matches(last, s.LastHostFrame)) << "the host's last frame was \"" << last << "\"";
    // Every failure up to the image check comes before anything is erased.
    if (!outcome.Succeeded && s.Phase <= fpIdentity) Unit->ExpectFlashUntouched();
    if (outcome.Succeeded) Unit->ExpectDemoAreaProgrammed();
    ExpectPortReleased();
    ExpectNoKeepAliveFailure();
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultMatrix, ::testing::ValuesIn(Scenarios),
                         [](const ::testing::TestParamInfo<TScenario>& info) { return info.param.Name; });

}
