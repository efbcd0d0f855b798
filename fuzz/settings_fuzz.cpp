// The text forms of the serial settings and the port-name mapping, fed with
// arbitrary text. A text that matches a setting's form in any letter case
// gives that setting, anything else the setting's default; every setting's
// form reads back as the setting.
#include "fuzzcheck.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Letter case folded for ASCII letters only; other bytes compare as they are.
bool SameIgnoringAsciiCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// Applies bits of mask as letter case to the text ("none" -> "NoNe").
std::string MixCase(std::string text, uint32_t mask)
{
    for (size_t i = 0; i < text.size(); ++i) {
        char& c = text[i];
        const bool upper = (mask >> (i % 32)) & 1u;
        if (upper && c >= 'a' && c <= 'z') c = char(c - 32);
        if (!upper && c >= 'A' && c <= 'Z') c = char(c + 32);
    }
    return text;
}

struct TSetting {
    std::vector<std::string> Forms; // by ordinal
    int Default;
    int (*FromText)(const std::string&);
    std::string (*ToText)(int);
};

const TSetting kSettings[] = {
    {{"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600",
      "115200", "128000", "256000"},
     br9600,
     [](const std::string& t) { return int(TextToBaudRate(t)); },
     [](int v) { return BaudRateToText(TBaudRate(v)); }},
    {{"5", "6", "7", "8"},
     dbEight,
     [](const std::string& t) { return int(TextToDataBits(t)); },
     [](int v) { return DataBitsToText(TDataBits(v)); }},
    {{"1", "1.5", "2"},
     sbOneStopBit,
     [](const std::string& t) { return int(TextToStopBits(t)); },
     [](int v) { return StopBitsToText(TStopBits(v)); }},
    {{"None", "Odd", "Even", "Mark", "Space"},
     prNone,
     [](const std::string& t) { return int(TextToParity(t)); },
     [](int v) { return ParityToText(TParityBits(v)); }},
    {{"Hardware", "Software", "None", "Custom"},
     fcCustom,
     [](const std::string& t) { return int(TextToFlowControl(t)); },
     [](int v) { return FlowControlToText(TFlowControl(v)); }},
};

void CheckSetting(const TSetting& setting, const std::string& text, uint32_t mask)
{
    int expected = setting.Default;
    for (size_t i = 0; i < setting.Forms.size(); ++i)
        if (SameIgnoringAsciiCase(text, setting.Forms[i])) expected = int(i);
    FUZZ_CHECK(setting.FromText(text) == expected);

    // Round trip of the setting the text gave, and of one chosen by the
    // input, in a letter case chosen by the input.
    for (const int value : {expected, int(mask % setting.Forms.size())}) {
        const std::string form = setting.ToText(value);
        FUZZ_CHECK(form == setting.Forms[size_t(value)]);
        FUZZ_CHECK(setting.FromText(MixCase(form, mask)) == value);
    }
}

bool AllDigits(const std::string& text)
{
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return !text.empty();
}

// "COMn" names the n-th on-board UART; paths stay; other names live in /dev.
void CheckPortPath(const std::string& port)
{
    const std::string path = PortDevicePath(port);
    if (port.empty() || port[0] == '/') {
        FUZZ_CHECK(path == port);
        return;
    }
    const std::string number = port.size() > 3 ? port.substr(3) : std::string();
    if (SameIgnoringAsciiCase(port.substr(0, 3), "COM") && AllDigits(number) && number.size() <= 9 &&
        std::stoul(number) >= 1) {
        FUZZ_CHECK(path == "/dev/ttyS" + std::to_string(std::stoul(number) - 1));
        return;
    }
    FUZZ_CHECK(path == "/dev/" + port);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first four bytes choose a letter case and a setting value; the
    // whole input is also the text.
    uint32_t mask = 0;
    for (size_t i = 0; i < size && i < 4; ++i) mask = (mask << 8) | data[i];
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const TSetting& setting : kSettings) CheckSetting(setting, text, mask);
    CheckPortPath(text);
    return 0;
}
