// How a programming run goes beyond what its operator answers: choices a
// caller makes once for a run (the command line's switches), not questions.
#pragma once

struct TRunOptions {
    bool AskBootAfterPortError = true;
    bool VerifyOnly = false; // connect, check, read back and compare, restart: nothing erased or programmed
};
