// Text forms of the simulator's faults, frames and states.
#include <cstdio>
#include <stdexcept>

#include "tools/unitsim/unitsim.h"

namespace {

struct TNamed {
    const char* Name;
    int Value;
};

const TNamed kKinds[] = {
    {"silence", fkSilence}, {"wrong", fkWrongReply}, {"short", fkShortReply},       {"noise", fkNoise},
    {"slow", fkSlowReply},  {"hangup", fkHangUp},    {"wrong-start", fkWrongStart}, {"wrong-size", fkWrongSize}};

const TNamed kPhases[] = {{"connect", fpConnect},
                          {"speed-reply", fpSpeedReply},
                          {"speed-echo", fpSpeedEcho},
                          {"identity", fpIdentity},
                          {"erase", fpErase},
                          {"program-block", fpProgramBlock},
                          {"program-close", fpProgramClose},
                          {"read-block", fpReadBlock},
                          {"reset", fpReset}};

template <size_t N>
int Lookup(const TNamed (&table)[N], const std::string& name, const char* what)
{
    for (const TNamed& entry : table)
        if (name == entry.Name) return entry.Value;
    std::string known;
    for (const TNamed& entry : table) known += std::string(known.empty() ? "" : ", ") + entry.Name;
    throw std::invalid_argument("unknown fault " + std::string(what) + " \"" + name + "\" (known: " + known + ")");
}

template <size_t N>
std::string NameOf(const TNamed (&table)[N], int value)
{
    for (const TNamed& entry : table)
        if (entry.Value == value) return entry.Name;
    return "?";
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

uint32_t DigitValue(char c)
{
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
    return static_cast<uint32_t>(c - 'A' + 10);
}

uint32_t ParseNumber(const std::string& text, const std::string& whole)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) throw std::invalid_argument("missing number in fault \"" + whole + "\"");
    uint64_t value = 0;
    for (const char c : digits) {
        const bool ok = hex ? IsHexDigit(c) : (c >= '0' && c <= '9');
        if (!ok) throw std::invalid_argument("bad number \"" + text + "\" in fault \"" + whole + "\"");
        value = value * (hex ? 16 : 10) + DigitValue(c);
        if (value > 0xFFFFFFFFull) throw std::invalid_argument("number too large in fault \"" + whole + "\"");
    }
    return static_cast<uint32_t>(value);
}

std::vector<uint8_t> ParseBytes(const std::string& text, const std::string& whole)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!hex) return std::vector<uint8_t>(text.begin(), text.end());
    const std::string digits = text.substr(2);
    if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits in fault \"" + whole + "\"");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (!IsHexDigit(digits[i]) || !IsHexDigit(digits[i + 1]))
            throw std::invalid_argument("bad hex bytes \"" + text + "\" in fault \"" + whole + "\"");
        bytes.push_back(static_cast<uint8_t>(DigitValue(digits[i]) * 16 + DigitValue(digits[i + 1])));
    }
    return bytes;
}

std::string HexBytes(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char digits[4];
    for (const uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%s%02X", text.empty() ? "" : " ", b);
        text += digits;
    }
    return text;
}

} // namespace

TUnitFault ParseFault(const std::string& text)
{
    const size_t at = text.find('@');
    if (at == std::string::npos) throw std::invalid_argument("fault \"" + text + "\" has no @PHASE");
    TUnitFault fault;
    fault.Kind = static_cast<TFaultKind>(Lookup(kKinds, text.substr(0, at), "kind"));

    std::string rest = text.substr(at + 1);
    std::string value;
    bool hasValue = false;
    if (const size_t eq = rest.find('='); eq != std::string::npos) {
        value = rest.substr(eq + 1);
        rest = rest.substr(0, eq);
        hasValue = true;
    }
    if (const size_t colon = rest.find(':'); colon != std::string::npos) {
        if (fault.Kind != fkWrongReply || hasValue)
            throw std::invalid_argument("only a wrong reply without VALUE names a byte, not \"" + text + "\"");
        const std::string byte = rest.substr(colon + 1);
        fault.SpoiledByte = byte == "last" ? kLastByte : static_cast<int>(ParseNumber(byte, text));
        if (fault.SpoiledByte < kLastByte) throw std::invalid_argument("byte too large in fault \"" + text + "\"");
        rest = rest.substr(0, colon);
    }
    if (const size_t hash = rest.find('#'); hash != std::string::npos) {
        fault.Index = static_cast<int>(ParseNumber(rest.substr(hash + 1), text));
        if (fault.Index < 0) throw std::invalid_argument("index too large in fault \"" + text + "\"");
        rest = rest.substr(0, hash);
    }
    fault.Phase = static_cast<TFramePhase>(Lookup(kPhases, rest, "phase"));

    if (!hasValue) return fault;
    switch (fault.Kind) {
    case fkWrongReply:
        fault.Bytes = ParseBytes(value, text);
        if (fault.Bytes.empty()) throw std::invalid_argument("empty reply in fault \"" + text + "\"");
        break;
    case fkNoise:
    case fkSlowReply:
    case fkWrongStart:
    case fkWrongSize: fault.Value = ParseNumber(value, text); break;
    default: throw std::invalid_argument("fault \"" + text + "\" takes no value");
    }
    return fault;
}

std::string FaultToText(const TUnitFault& fault)
{
    std::string text = NameOf(kKinds, fault.Kind) + "@" + NameOf(kPhases, fault.Phase);
    if (fault.Index >= 0) text += "#" + std::to_string(fault.Index);
    if (fault.Kind == fkWrongReply && fault.Bytes.empty() && fault.SpoiledByte != 0)
        text += ":" + (fault.SpoiledByte == kLastByte ? std::string("last") : std::to_string(fault.SpoiledByte));
    if (fault.Kind == fkWrongReply && !fault.Bytes.empty()) {
        std::string hex = HexBytes(fault.Bytes);
        std::string compact;
        for (const char c : hex)
            if (c != ' ') compact += c;
        text += "=0x" + compact;
    } else if (fault.Value) {
        text += "=" + std::to_string(*fault.Value);
    }
    return text;
}

std::string FaultHelpText()
{
    return "  A fault is KIND@PHASE[#INDEX][:BYTE][=VALUE]. INDEX counts the frames of the phase\n"
           "  from 0 since the host opened the port to the running firmware; without it\n"
           "  every frame of the phase is struck.\n"
           "  KIND:\n"
           "    silence      no reply at all\n"
           "    wrong        VALUE instead of the reply: text (wrong@erase=%) or hex bytes\n"
           "                 (wrong@connect=0x5377); without VALUE the first byte XOR 0x40,\n"
           "                 or byte BYTE from 0 (\"last\" for the last): wrong@speed-echo:last\n"
           "    short        only the first half of the reply (none of a one-byte reply)\n"
           "    noise        VALUE (default 3) noise bytes on the line before the reply\n"
           "    slow         the reply leaves VALUE ms (default 1500) late\n"
           "    hangup       the unit's side of the line is closed instead of answering\n"
           "    wrong-start  identity reports flash start VALUE (default: true start + 0x100)\n"
           "    wrong-size   identity reports flash size VALUE (default: true size - 0x100)\n"
           "  PHASE:\n"
           "    connect        reply to the user command, the type-14 purge or the connect\n"
           "                   word (counted answered or not)\n"
           "    speed-reply    reply to the speed-change request\n"
           "    speed-echo     echo of ABCDE\n"
           "    identity       reply to IDEN\n"
           "    erase          erase status\n"
           "    program-block  status after each program block\n"
           "    program-close  status after the closing 0x00\n"
           "    read-block     each block of a read\n"
           "    reset          RSET (only hangup applies)\n";
}

std::string UnitStateName(TUnitState state)
{
    switch (state) {
    case usFirmware: return "running firmware";
    case usBootLoader: return "boot loader";
    case usSpeedWait: return "waiting for the speed change";
    case usEchoWait: return "waiting for the echo check";
    case usCommand: return "loader waiting for a command";
    case usBusy: return "loader inside a command";
    case usLost: return "loader out of step";
    case usHungUp: return "hung up";
    }
    return "?";
}

std::string DescribeFrame(const TSimFrame& frame)
{
    std::string text;
    switch (frame.Direction) {
    case sdHostToUnit: text = "host -> unit  "; break;
    case sdUnitToHost: text = "unit -> host  "; break;
    case sdEvent: text = "              "; break;
    }
    text += frame.Label;
    if (frame.Direction == sdEvent) return text;
    text += " [" + std::to_string(frame.BitRate) + " bit/s]";
    text += "  plain: " + HexBytes(frame.Plain);
    if (frame.Line != frame.Plain) text += "  line: " + HexBytes(frame.Line);
    return text;
}
