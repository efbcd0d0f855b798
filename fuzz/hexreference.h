// An independent reading of hexadecimal text, to check the protocol's own
// conversion against: the digit's place in a table, and the number from the
// C library's strtoull over the digits that fit in 32 bits.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace hexref {

// 0..15 for a hexadecimal digit, -1 for any other byte (NUL included).
inline int DigitValue(char c)
{
    static const char kDigits[] = "0123456789abcdef";
    static const char kUpper[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i)
        if (c == kDigits[i] || c == kUpper[i]) return i;
    return -1;
}

// The leading run of hexadecimal digits of text.
inline std::string LeadingDigits(const std::string& text)
{
    size_t n = 0;
    while (n < text.size() && DigitValue(text[n]) >= 0) ++n;
    return text.substr(0, n);
}

// The value of the leading digits kept to 32 bits: only the last eight
// digits can contribute, so strtoull over them never overflows.
inline uint32_t Value32(const std::string& text)
{
    const std::string digits = LeadingDigits(text);
    if (digits.empty()) return 0;
    const std::string low = digits.size() > 8 ? digits.substr(digits.size() - 8) : digits;
    return static_cast<uint32_t>(std::strtoull(low.c_str(), nullptr, 16));
}

} // namespace hexref
