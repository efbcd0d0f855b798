#include "serial/serialtext.h"

#include "core/text.h"

#include <cstddef>

namespace {

const char* const BaudRateTexts[] = {"Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
                                     "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
const char* const DataBitsTexts[] = {"5", "6", "7", "8"};
const char* const StopBitsTexts[] = {"1", "1.5", "2"};
const char* const ParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
const char* const FlowControlTexts[] = {"Hardware", "Software", "None", "Custom"};

template <size_t N>
std::string ToText(const char* const (&texts)[N], int value)
{
    return value >= 0 && size_t(value) < N ? texts[value] : "";
}

template <typename T, size_t N>
T FromText(const char* const (&texts)[N], const std::string& text, T fallback)
{
    const std::string wanted = UpperAscii(text);
    for (size_t i = 0; i < N; ++i)
        if (UpperAscii(texts[i]) == wanted) return T(i);
    return fallback;
}

} // namespace

std::string BaudRateToText(TBaudRate value) { return ToText(BaudRateTexts, value); }
std::string DataBitsToText(TDataBits value) { return ToText(DataBitsTexts, value); }
std::string StopBitsToText(TStopBits value) { return ToText(StopBitsTexts, value); }
std::string ParityToText(TParityBits value) { return ToText(ParityTexts, value); }
std::string FlowControlToText(TFlowControl value) { return ToText(FlowControlTexts, value); }

TBaudRate TextToBaudRate(const std::string& text) { return FromText(BaudRateTexts, text, br9600); }
TDataBits TextToDataBits(const std::string& text) { return FromText(DataBitsTexts, text, dbEight); }
TStopBits TextToStopBits(const std::string& text) { return FromText(StopBitsTexts, text, sbOneStopBit); }
TParityBits TextToParity(const std::string& text) { return FromText(ParityTexts, text, prNone); }
TFlowControl TextToFlowControl(const std::string& text) { return FromText(FlowControlTexts, text, fcCustom); }