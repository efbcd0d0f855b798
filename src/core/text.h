// Text helpers shared by every layer: letter case of the ASCII texts the
// system compares (setting names, port names, answers), and line ends,
// which the system's own texts give as CR, LF or CR LF.
#pragma once

#include <string>
#include <vector>

// Only ASCII letters change: the texts compared this way are ASCII, and a
// locale must never make "COM1" and "com1" differ.
std::string UpperAscii(std::string text);
std::string LowerAscii(std::string text);
bool SameTextIgnoringCase(const std::string& a, const std::string& b);

// Splits a text into lines; a line ends at CR, LF or CR LF, and a break at
// the very end starts no further line.
std::vector<std::string> SplitLines(const std::string& text);
// The text with every CR, LF or CR LF as one LF.
std::string WithLfLineEnds(const std::string& text);
