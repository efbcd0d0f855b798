// Text formatting with this program's placeholder conventions.
#pragma once

#include <string>

// printf-like formatting with this program's conventions: "%x" and "%X"
// print upper-case hexadecimal, "%0.2x" pads to at least two digits, "%c"
// prints one byte, "%d" a signed decimal, "%s" a C string. Arguments are
// passed as for printf (int, unsigned, const char*).
// (No printf format attribute: the system's own texts use "%0.2x", which
// the compiler's format check would flag although its meaning is fixed.)
std::string Format(const char* format, ...);
