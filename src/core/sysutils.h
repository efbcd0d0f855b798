// Exceptions and text formatting shared by every layer.
#pragma once

#include <exception>
#include <string>

// The general exception class: every failure of the system carries exactly
// one message text, and every exception class of the system derives from it.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Conversion failures of texts (hexadecimal fields, identity texts).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Stream reads past the end.
class EReadError : public Exception {
public:
    using Exception::Exception;
};

// printf-like formatting with this program's conventions: "%x" and "%X"
// print upper-case hexadecimal, "%0.2x" pads to at least two digits, "%c"
// prints one byte, "%d" a signed decimal, "%s" a C string. Arguments are
// passed as for printf (int, unsigned, const char*).
// (No printf format attribute: the system's own texts use "%0.2x", which
// the compiler's format check would flag although its meaning is fixed.)
std::string Format(const char* format, ...);
