// What the face that starts a run decides about it beyond the operator's
// answers.
#pragma once

struct TRunOptions {
    // Whether the operator is asked about the boot method after the user
    // method failed at the port (it could not be opened, or failed under
    // the transfer). The boot method talks through the same port and would
    // fail the same way; the window asks all the same, and the command line
    // ends with the port's own message instead, so that a second programmer
    // on a port in use says so rather than asking a question.
    bool AskBootAfterPortError = true;
    // Connect, check, read back and compare, restart: nothing erased or
    // programmed (the command line's --verify-only).
    bool VerifyOnly = false;
};
