#include "core/format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string Format(const char* format, ...)
{
    // Lower-case hexadecimal conversions are printed in upper case: the
    // messages of this system always show hexadecimal digits as capitals.
    std::string pattern(format);
    bool inConversion = false;
    for (char& c : pattern) {
        if (!inConversion) {
            inConversion = (c == '%');
            continue;
        }
        if (c == '%') {
            inConversion = false;
            continue;
        }
        if (c == 'x') c = 'X';
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) inConversion = false;
    }

    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, pattern.c_str(), copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), pattern.c_str(), args);
        result.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return result;
}
