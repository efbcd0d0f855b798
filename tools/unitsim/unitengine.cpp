#include "tools/unitsim/unitengine.h"

#include <algorithm>
#include <cstdio>

namespace {

const std::vector<uint8_t> kConnectWord{'S', 'w', 'I', 't', 'C', 'h', 'U', 'p'};
const std::vector<uint8_t> kReplyWord = kConnectWord;
const std::vector<uint8_t> kEchoCheck{'A', 'B', 'C', 'D', 'E'};
constexpr uint8_t kSpeedRequest = 0x44;
constexpr uint8_t kSpeedRequestArgument = 0x05;
constexpr uint8_t kEraseDone = '$';
constexpr uint8_t kDeviceFailure = '%';
constexpr uint8_t kBlockAccepted = 0x00;
constexpr uint8_t kProgramDone = '#';
constexpr uint32_t kWriteBlock = 128;
constexpr uint32_t kReadBlock = 32;
constexpr size_t kIdentityBytes = 40;
constexpr size_t kPendingLimit = 64;
constexpr uint8_t kGarbleMask = 0x40;
// Type 14's firmware answers a purge of the host's input. A host may purge
// more than once while it gets ready to listen (opening the port, then
// before its first read); a purge soon after the answer, with nothing heard
// since, gets the answer again. The speed change comes at least 500 ms after
// the answer, so its purge is never mistaken for one of these.
constexpr auto kPurgeRepeatWindow = std::chrono::milliseconds(300);

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

uint32_t BigEndian(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = (value << 8) | bytes[offset + i];
    return value;
}

} // namespace

TUnitEngine::TUnitEngine(const TUnitSimOptions& options, TFlashMemory& flash, TUnitPort& port)
    : FOptions(options), FFlash(flash), FPort(port), FFaults(options.Faults)
{
}

void TUnitEngine::SetState(TUnitState state)
{
    if (FState == state) return;
    FState = state;
    FPort.StateChanged(state);
}

void TUnitEngine::RecordHost(const std::string& label, const TBytes& bytes, const TLineState& line)
{
    TSimFrame frame;
    frame.Direction = sdHostToUnit;
    frame.Plain = bytes.Plain;
    frame.Line = bytes.Line;
    frame.Label = label;
    frame.BitRate = line.BitRate;
    FPort.Record(std::move(frame));
}

void TUnitEngine::RecordEvent(const std::string& label)
{
    TSimFrame frame;
    frame.Label = label;
    FPort.Record(std::move(frame));
}

void TUnitEngine::Complain(const std::string& text) { RecordEvent("complaint: " + text); }

void TUnitEngine::EnterFirmware(const std::string& why)
{
    if (FState == usHungUp) return;
    FPending.Clear();
    FMisheard.clear();
    FWord.Clear();
    FCommand = cmNone;
    FUnansweredWords = 0;
    FRateComplained = false;
    if (FState != usFirmware) RecordEvent("firmware runs (" + why + ")");
    SetState(usFirmware);
}

void TUnitEngine::EnterSpeedWait(const std::vector<uint8_t>& answered, bool byPurge)
{
    FAnswered = answered;
    FAnsweredByPurge = byPurge;
    FAnsweredAt = std::chrono::steady_clock::now();
    FSpeed.Clear();
    FAwaitDivisor = false;
    FSpeedCloses = 0;
    FCounter = 0;
    SetState(usSpeedWait);
}

void TUnitEngine::LineGone() { SetState(usHungUp); }

void TUnitEngine::OperatorReset(bool automatic)
{
    if (FState == usHungUp) return;
    RecordEvent(automatic ? "operator resets the unit (automatic)" : "operator resets the unit");
    FPending.Clear();
    FMisheard.clear();
    FCommand = cmNone;
    FRateComplained = false;
    SetState(usBootLoader);
}

void TUnitEngine::HostOpened()
{
    if (FState == usHungUp) return;
    RecordEvent("host opens the port");
    if (FState == usFirmware) FFaults.Restart();
}

void TUnitEngine::HostClosed()
{
    if (FState == usHungUp) return;
    RecordEvent("host closes the port");
    switch (FState) {
    case usFirmware:
    case usBootLoader:
        // The running firmware goes on; a unit just reset sits in its loader
        // until it hears the connect word.
        break;
    case usSpeedWait:
    case usEchoWait:
        // After the divisor the host reopens its port to change the bit
        // rate; a second close before the echo check means it gave up.
        if ((FState == usSpeedWait && !FAwaitDivisor) || ++FSpeedCloses > 1) EnterFirmware("the host closed the port");
        break;
    default: EnterFirmware("the host closed the port"); break;
    }
}

void TUnitEngine::InputPurged(const TLineState& line)
{
    const bool answersPurge = FOptions.UnitType == 14 && FOptions.FirmwareAnswersUserCommand;
    if (!answersPurge || (FState != usFirmware && FState != usSpeedWait)) return;
    RecordEvent("host purges its input");
    if (FState == usFirmware) {
        FlushPending(line);
        AnswerConnect({}, true);
        return;
    }
    const bool repeat = FAnsweredByPurge && FSpeed.Size() == 0 && FPending.Size() == 0 &&
                        std::chrono::steady_clock::now() - FAnsweredAt < kPurgeRepeatWindow;
    if (repeat) AnswerConnect({}, true);
}

void TUnitEngine::HostByte(uint8_t lineByte, const TLineState& line)
{
    switch (FState) {
    case usFirmware:
    case usBootLoader: ConnectByte(lineByte, line); break;
    case usSpeedWait: SpeedByte(lineByte, line); break;
    case usEchoWait: EchoByte(lineByte, line); break;
    case usCommand:
    case usBusy: CommandByte(lineByte, line); break;
    case usLost: {
        TBytes lost;
        lost.Add(Unscramble(lineByte), lineByte);
        RecordHost("ignored (loader out of step)", lost, line);
        break;
    }
    case usHungUp: break;
    }
}

// ---- Connect exchange -------------------------------------------------------

void TUnitEngine::FlushPending(const TLineState& line)
{
    if (FPending.Size() == 0) return;
    RecordHost("unrecognised bytes", FPending, line);
    FPending.Clear();
    FMisheard.clear();
}

bool TUnitEngine::PendingEndsWith(const std::vector<uint8_t>& word) const
{
    const size_t n = word.size();
    if (n == 0 || FPending.Size() < n) return false;
    const size_t from = FPending.Size() - n;
    for (size_t i = 0; i < n; ++i)
        if (FMisheard[from + i] || FPending.Plain[from + i] != word[i]) return false;
    return true;
}

// Records the word that ends the pending bytes under its label, and anything
// before it as unrecognised; false when the pending bytes do not end with it.
bool TUnitEngine::MatchConnect(const std::vector<uint8_t>& word, const std::string& label, const TLineState& line)
{
    if (!PendingEndsWith(word)) return false;
    const size_t from = FPending.Size() - word.size();
    TBytes before, matched;
    for (size_t i = 0; i < FPending.Size(); ++i) (i < from ? before : matched).Add(FPending.Plain[i], FPending.Line[i]);
    if (before.Size() > 0) RecordHost("unrecognised bytes", before, line);
    RecordHost(label, matched, line);
    FPending.Clear();
    FMisheard.clear();
    return true;
}

void TUnitEngine::ConnectByte(uint8_t lineByte, const TLineState& line)
{
    const bool misheard = FOptions.ConnectRate != 0 && line.BitRate != FOptions.ConnectRate;
    if (misheard && !FRateComplained) {
        Complain("host talks at " + std::to_string(line.BitRate) + " bit/s, the unit listens at " +
                 std::to_string(FOptions.ConnectRate));
        FRateComplained = true;
    }
    FPending.Add(lineByte, lineByte);
    FMisheard.push_back(misheard);

    const std::vector<uint8_t> userCommand = ModelUserCommand(FOptions.UnitType);
    if (FState == usFirmware) {
        if (FOptions.FirmwareAnswersUserCommand && MatchConnect(userCommand, "user command", line)) {
            AnswerConnect(userCommand, false);
            return;
        }
        if (MatchConnect(kConnectWord, "connect word", line)) {
            const bool resetNow =
                FOptions.AutoResetAfterConnectWords >= 0 && FUnansweredWords >= FOptions.AutoResetAfterConnectWords;
            if (!resetNow) {
                IgnoreConnectWord();
                return;
            }
            OperatorReset(true);
            AnswerConnect(kConnectWord, false);
            return;
        }
    } else if (MatchConnect(kConnectWord, "connect word", line)) {
        AnswerConnect(kConnectWord, false);
        return;
    }
    if (FPending.Size() > kPendingLimit) {
        // Keep the tail that could still become a command.
        TBytes old;
        const size_t keep = kConnectWord.size() - 1;
        for (size_t i = 0; i + keep < FPending.Size(); ++i) old.Add(FPending.Plain[i], FPending.Line[i]);
        RecordHost("unrecognised bytes", old, line);
        FPending.Plain.erase(FPending.Plain.begin(), FPending.Plain.end() - keep);
        FPending.Line.erase(FPending.Line.begin(), FPending.Line.end() - keep);
        FMisheard.erase(FMisheard.begin(), FMisheard.end() - keep);
    }
}

void TUnitEngine::AnswerConnect(const std::vector<uint8_t>& answered, bool byPurge)
{
    std::vector<uint8_t> reply = kReplyWord;
    const TAnswer result = Answer(FFaults.Take(fpConnect), "connect reply", reply, false);
    // A garbled or missing answer leaves the unit where it was.
    if (result == anSent) EnterSpeedWait(answered, byPurge);
}

// The running firmware does not know the connect word; only faults make it
// put anything on the line.
void TUnitEngine::IgnoreConnectWord()
{
    ++FUnansweredWords;
    RecordEvent("running firmware ignores the connect word");
    TFaultAction action = FFaults.Take(fpConnect);
    if (!action.HangUp && !action.Wrong && action.NoiseBytes == 0) return;
    std::vector<uint8_t> reply;
    if (action.HangUp || action.Wrong) reply = kReplyWord;
    action.Silence = false;
    action.Short = false;
    Answer(action, "connect reply", reply, false);
}

// ---- Speed change -----------------------------------------------------------

void TUnitEngine::SpeedByte(uint8_t lineByte, const TLineState& line)
{
    if (FSpeed.Size() == 0) {
        if (lineByte != kSpeedRequest) {
            // Still plain: the host may repeat the command it got the answer to.
            FPending.Add(lineByte, lineByte);
            FMisheard.push_back(false);
            if (MatchConnect(FAnswered, "user command (again)", line))
                AnswerConnect(FAnswered, false);
            else if (FPending.Size() > kPendingLimit)
                FlushPending(line);
            return;
        }
        FlushPending(line);
        FCounter = 0;
        FSpeedRate = line.BitRate;
    }
    if (FAwaitDivisor) {
        TBytes divisor;
        const uint8_t d = Unscramble(lineByte);
        divisor.Add(d, lineByte);
        RecordHost("divisor", divisor, line);
        const uint32_t programRate = ModelProgramRate(FOptions.UnitType);
        const uint8_t expected = ExpectedDivisor(FOptions.SpeedReply, FSpeedRate, programRate);
        if (d == expected) {
            FUnitRate = programRate;
        } else {
            FUnitRate = 0;
            Complain("divisor " + std::to_string(d) + " does not fit; " + std::to_string(expected) + " is " +
                     std::to_string(FSpeedRate) + " -> " + std::to_string(programRate) + " bit/s");
        }
        FEcho.Clear();
        FEchoMisheard = false;
        SetState(usEchoWait);
        return;
    }
    FSpeed.Add(Unscramble(lineByte), lineByte);
    if (FSpeed.Size() < 2) return;
    RecordHost("speed-change request", FSpeed, line);
    if (FSpeed.Plain[1] != kSpeedRequestArgument) {
        Complain("speed-change request not understood");
        SetState(usLost);
        return;
    }
    std::vector<uint8_t> reply{FOptions.SpeedReply};
    if (Answer(FFaults.Take(fpSpeedReply), "speed-change reply", reply, true) != anHungUp) FAwaitDivisor = true;
}

void TUnitEngine::EchoByte(uint8_t lineByte, const TLineState& line)
{
    FEcho.Add(Unscramble(lineByte), lineByte);
    if (line.BitRate != FUnitRate) {
        FEchoMisheard = true;
        FEchoRate = line.BitRate;
    }
    if (FEcho.Size() < kEchoCheck.size()) return;
    RecordHost("speed-change check", FEcho, line);
    const TFaultAction action = FFaults.Take(fpSpeedEcho);
    if (!FEchoMisheard) {
        std::vector<uint8_t> echo = FEcho.Plain;
        if (Answer(action, "speed-change echo", echo, true) != anHungUp) SetState(usCommand);
        return;
    }
    // The unit listens at another rate than the host talks: it hears and
    // answers garbage, and is out of step from now on.
    Complain("check heard at " + std::to_string(FEchoRate) + " bit/s, the loader runs at " +
             (FUnitRate ? std::to_string(FUnitRate) + " bit/s" : std::string("a rate of its own")));
    std::vector<uint8_t> garbage = NoiseBytes(static_cast<uint32_t>(kEchoCheck.size()));
    if (Answer(action, "garbage (bit rate mismatch)", garbage, false) != anHungUp) SetState(usLost);
}

// ---- Loader commands ----------------------------------------------------------

void TUnitEngine::CommandByte(uint8_t lineByte, const TLineState& line)
{
    const uint8_t plain = Unscramble(lineByte);
    if (FCommand == cmNone) {
        FWord.Add(plain, lineByte);
        if (FWord.Size() < 4) return;
        const std::string word(FWord.Plain.begin(), FWord.Plain.end());
        if (word == "IDEN" || word == "ERAS" || word == "PROG" || word == "READ" || word == "RSET") {
            StartCommand(word, line);
            FWord.Clear();
            return;
        }
        // Slide on by one byte: a loader that lost a byte finds the next word.
        TBytes dropped;
        dropped.Add(FWord.Plain.front(), FWord.Line.front());
        RecordHost("unrecognised byte", dropped, line);
        FWord.Plain.erase(FWord.Plain.begin());
        FWord.Line.erase(FWord.Line.begin());
        return;
    }

    TBytes one;
    one.Add(plain, lineByte);
    switch (FStep) {
    case stFields:
        FField.Add(plain, lineByte);
        if (FField.Size() == 8) FieldsDone(line);
        break;
    case stData:
        FBlock.Add(plain, lineByte);
        if (FBlock.Size() == std::min(FRemaining, kWriteBlock)) ProgramBlockDone(line);
        break;
    case stAck:
        RecordHost(FCommand == cmRead ? "read acknowledge" : "block acknowledge", one, line);
        if (plain != 0x00) Complain("acknowledge byte is not 0x00");
        if (FCommand == cmProgram) {
            FStep = stData;
        } else if (FRemaining > 0) {
            SendReadBlock();
        } else {
            FCommand = cmNone;
            SetState(usCommand);
        }
        break;
    case stClose: {
        RecordHost("closing acknowledge", one, line);
        if (plain != 0x00) Complain("closing byte is not 0x00");
        std::vector<uint8_t> status{kProgramDone};
        FCommand = cmNone;
        SetState(usCommand);
        Answer(FFaults.Take(fpProgramClose), "program status", status, true);
        break;
    }
    }
}

void TUnitEngine::StartCommand(const std::string& word, const TLineState& line)
{
    if (word == "IDEN") {
        RecordHost("identity query", FWord, line);
        SendIdentity();
        return;
    }
    if (word == "RSET") {
        RecordHost("reset", FWord, line);
        const TFaultAction action = FFaults.Take(fpReset);
        if (action.HangUp) {
            std::vector<uint8_t> none;
            Answer(action, "reset", none, true);
            return;
        }
        EnterFirmware("reset by the host");
        return;
    }
    const char* label = word == "ERAS" ? "erase command" : word == "PROG" ? "program command" : "read command";
    RecordHost(label, FWord, line);
    FCommand = word == "ERAS" ? cmErase : word == "PROG" ? cmProgram : cmRead;
    FStep = stFields;
    FField.Clear();
    SetState(usBusy);
}

void TUnitEngine::SendIdentity()
{
    const TFaultAction action = FFaults.Take(fpIdentity);
    const uint32_t trueStart = ModelFlashStart(FOptions.UnitType);
    const uint32_t trueSize = ModelFlashSize(FOptions.UnitType);
    const uint32_t start = action.WrongStart ? action.StartValue.value_or(trueStart + 0x100) : trueStart;
    const uint32_t size = action.WrongSize ? action.SizeValue.value_or(trueSize - 0x100) : trueSize;
    const std::string name = FOptions.IdentityName.empty() ? ModelName(FOptions.UnitType) : FOptions.IdentityName;
    const std::string text = Hex(FOptions.ChecksumSeed) + ":" + Hex(start) + ":" + Hex(size) + ":" + name + "\n";
    std::vector<uint8_t> reply(kIdentityBytes, 0x00);
    std::copy_n(text.begin(), std::min(text.size(), kIdentityBytes), reply.begin());
    Answer(action, "identity", reply, true);
}

void TUnitEngine::FieldsDone(const TLineState& line)
{
    TBytes first, second;
    for (size_t i = 0; i < 8; ++i) (i < 4 ? first : second).Add(FField.Plain[i], FField.Line[i]);
    const uint32_t start = BigEndian(FField.Plain, 0);
    const uint32_t length = BigEndian(FField.Plain, 4);
    FAddress = start;
    FRemaining = length;
    FBlockIndex = 0;

    if (FCommand == cmErase) {
        RecordHost("erase start", first, line);
        RecordHost("erase length", second, line);
        const bool erased = FFlash.Erase(start, length);
        if (!erased) Complain("erase range " + Hex(start) + "+" + Hex(length) + " is outside the flash");
        std::vector<uint8_t> status{erased ? kEraseDone : kDeviceFailure};
        FCommand = cmNone;
        SetState(usCommand);
        Answer(FFaults.Take(fpErase), "erase status", status, true, FOptions.EraseMs);
        return;
    }
    if (FCommand == cmProgram) {
        RecordHost("program start", first, line);
        RecordHost("program size", second, line);
        FRefuseProgram = !TFlashMemory::Inside(start, length);
        if (FRefuseProgram) Complain("program range " + Hex(start) + "+" + Hex(length) + " is outside the flash");
        FBlock.Clear();
        FStep = length == 0 ? stClose : stData;
        return;
    }
    RecordHost("read start", first, line);
    RecordHost("read length", second, line);
    if (!TFlashMemory::Inside(start, length))
        Complain("read range " + Hex(start) + "+" + Hex(length) + " is outside the flash; it reads as 0xFF");
    if (length == 0) {
        FStep = stAck;
        return;
    }
    SendReadBlock();
}

void TUnitEngine::ProgramBlockDone(const TLineState& line)
{
    RecordHost("program block " + std::to_string(FBlockIndex++), FBlock, line);
    const uint32_t count = static_cast<uint32_t>(FBlock.Size());
    std::vector<uint8_t> status{kBlockAccepted};
    if (FRefuseProgram) {
        status[0] = kDeviceFailure;
    } else {
        FFlash.Program(FAddress, FBlock.Plain);
    }
    FAddress += count;
    FRemaining -= count;
    FBlock.Clear();
    FStep = FRemaining > 0 ? stAck : stClose;

    Answer(FFaults.Take(fpProgramBlock), "block status", status, true);
    // "#" ends the transfer early, whatever the host still meant to send;
    // after a refusal the loader waits for the next command.
    if (FRefuseProgram || (!status.empty() && status[0] == kProgramDone)) {
        FCommand = cmNone;
        SetState(usCommand);
    }
}

void TUnitEngine::SendReadBlock()
{
    const uint32_t count = std::min(FRemaining, kReadBlock);
    std::vector<uint8_t> block = FFlash.Read(FAddress, count);
    FAddress += count;
    FRemaining -= count;
    FStep = stAck;
    Answer(FFaults.Take(fpReadBlock), "read block " + std::to_string(FBlockIndex++), block, true);
}

// ---- Replies ------------------------------------------------------------------

TUnitEngine::TAnswer TUnitEngine::Answer(const TFaultAction& action, const std::string& label,
                                         std::vector<uint8_t>& plain, bool scrambled, int delayMs)
{
    const std::string faults = action.Any() ? " (" + action.Names + ")" : "";
    if (action.HangUp) {
        RecordEvent("hang-up instead of " + label + faults);
        FPort.HangUp();
        SetState(usHungUp);
        return anHungUp;
    }
    if (action.Silence) {
        RecordEvent("no " + label + faults);
        plain.clear();
        return anSilent;
    }
    TAnswer result = anSent;
    if (action.Wrong) {
        if (!action.Wrong->empty())
            plain = *action.Wrong;
        else if (!plain.empty())
            plain[action.WrongByte == kLastByte ? plain.size() - 1
                                                : std::min(size_t(action.WrongByte), plain.size() - 1)] ^= kGarbleMask;
        result = anGarbled;
    }
    if (action.Short) {
        plain.resize(plain.size() / 2);
        result = anGarbled;
    }
    TUnitReply reply;
    reply.Label = label + faults;
    reply.Plain = plain;
    reply.Line = plain;
    if (scrambled)
        for (uint8_t& b : reply.Line) b = static_cast<uint8_t>(b ^ FCounter++);
    reply.Noise = NoiseBytes(action.NoiseBytes);
    reply.DelayMs = delayMs + action.DelayMs;
    if (reply.Line.empty() && reply.Noise.empty()) {
        RecordEvent("empty " + label + faults);
        return result;
    }
    FPort.Send(reply);
    return result;
}
