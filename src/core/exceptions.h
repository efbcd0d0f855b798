// The exception classes shared by every layer.
#pragma once

#include <exception>
#include <string>

// Why a failure happened, as far as the code that raises it knows. The run
// tells its failure kinds apart by this and by the step it was in, never by
// the message: the messages are the product's texts, and one text may stand
// for several causes, or one cause have several texts.
enum class TFailureCause {
    Unspecified,  // the step it happened in says what failed
    Cancelled,    // the operator cancelled, answered No, or stopped a run that had not changed the unit
    Interrupted,  // the operator stopped a run that had begun to change the unit
    PortError,    // the port could not be opened, or failed
    NoReply,      // a reply did not arrive, or not in its time
    WrongUnit,    // the unit's identity is not the image's model's, or does not read as an identity
    ImageInvalid, // the image does not fit: no model for its unit type, its size, its checksum, its digest
    Difference,   // the flash read back differs from the image
};

// The general exception class: every failure of the system carries exactly
// one message text and its cause, and every exception class of the system
// derives from it.
class Exception : public std::exception {
public:
    explicit Exception(std::string message, TFailureCause cause = TFailureCause::Unspecified)
        : FMessage(std::move(message)), FCause(cause)
    {
    }
    const std::string& Message() const noexcept { return FMessage; }
    TFailureCause Cause() const noexcept { return FCause; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
    TFailureCause FCause;
};

// The cause of any failure: Unspecified for one that is not the system's own.
inline TFailureCause FailureCause(const std::exception& failure)
{
    const auto* own = dynamic_cast<const Exception*>(&failure);
    return own ? own->Cause() : TFailureCause::Unspecified;
}

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
