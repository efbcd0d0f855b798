// Hexadecimal text from the unit: every byte of the input is tried as a
// digit, and the whole input, with and without a tail, as a number.
#include "core/exceptions.h"
#include "fuzzcheck.h"
#include "hexreference.h"
#include "protocol/hex.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void CheckDigit(char c)
{
    const int expected = hexref::DigitValue(c);
    FUZZ_CHECK(IsHexChar(c) == (expected >= 0));
    bool raised = false;
    int value = -1;
    try {
        value = HexCharToInt(c);
    } catch (const EConvertError& e) {
        raised = true;
        // The character itself stands in the message, NUL and high bytes too.
        FUZZ_CHECK(e.Message() == std::string("Cant convert non-hex character: ") + c);
    }
    FUZZ_CHECK(raised == (expected < 0));
    if (!raised) FUZZ_CHECK(value == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool tried[256] = {};
    for (const char c : text) {
        if (tried[static_cast<uint8_t>(c)]) continue;
        tried[static_cast<uint8_t>(c)] = true;
        CheckDigit(c);
    }

    // HexToInt never raises (an exception here ends the run as a crash).
    const uint32_t value = HexToInt(text);
    FUZZ_CHECK(value == hexref::Value32(text));

    // Only the leading digits count: what follows the first other
    // character changes nothing, and more digits shift the value left.
    const std::string digits = hexref::LeadingDigits(text);
    FUZZ_CHECK(HexToInt(digits) == value);
    FUZZ_CHECK(HexToInt(digits + ":" + text) == value);
    FUZZ_CHECK(HexToInt(digits + "0") == static_cast<uint32_t>(value << 4));
    return 0;
}
