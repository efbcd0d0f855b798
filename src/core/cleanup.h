// End-of-block clean-up that runs whether the block succeeds or raises.
#pragma once

// Runs body, then cleanup, whether body succeeds or raises; a failure of
// body passes on after the clean-up.
template <class Body, class Cleanup>
void RunThenAlways(Body body, Cleanup cleanup)
{
    try {
        body();
    } catch (...) {
        cleanup();
        throw;
    }
    cleanup();
}
