// Hexadecimal text to numbers, for the fields of the unit's identity text.
#pragma once

#include <cstdint>
#include <string>

// True for 0-9, A-F and a-f.
bool IsHexChar(char c);

// The value 0..15 of one hexadecimal digit; any other character raises
// EConvertError "Cant convert non-hex character: <c>".
int HexCharToInt(char c);

// The value of the hexadecimal digits at the start of s, up to the first
// other character, in 32-bit arithmetic: digits beyond the eighth shift the
// older ones out. Never raises; an empty text or one without leading digits
// gives 0.
uint32_t HexToInt(const std::string& s);
