// The exception classes shared by every layer.
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
