// Waiting in tests while the event loop runs: the protocol's waits, its
// keep-alive and the windows all live on Qt timers and events. Both waits
// block for the next event instead of spinning.
#pragma once

#include <functional>

// Handles the application's events for the given time.
void RunEvents(int ms);
// Handles events until the condition holds; false when it still does not
// after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);
