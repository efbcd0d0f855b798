// The application-wide service that the core layers need without knowing
// about windows: handling pending events while they wait. Failures that have
// no caller to return to go to the run's operator (core/operatorhooks.h).
#pragma once

// Handles the user-interface thread's pending events and returns at once.
// Without an application object there is nothing to handle.
void ProcessMessages();
