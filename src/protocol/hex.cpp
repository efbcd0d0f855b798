#include "protocol/hex.h"

#include "core/exceptions.h"
#include "core/format.h"

bool IsHexChar(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int HexCharToInt(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    throw EConvertError(Format("Cant convert non-hex character: %c", c));
}

uint32_t HexToInt(const std::string& s)
{
    uint32_t result = 0;
    for (const char c : s) {
        if (!IsHexChar(c)) break;
        result = result * 16u + static_cast<uint32_t>(HexCharToInt(c));
    }
    return result;
}
