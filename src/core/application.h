// The application-wide services that the core layers need without knowing
// about windows: handling pending events while they wait, and the one place
// where a failure that has no caller to return to (a timer handler) goes.
#pragma once

#include <exception>
#include <functional>

// Handles the user-interface thread's pending events and returns at once.
// Without an application object there is nothing to handle.
void ProcessMessages();

// Shows (or otherwise reports) a failure that cannot propagate to a caller,
// such as one raised in a timer handler. The GUI installs a handler that
// shows an error box; without one the message goes to standard error.
void HandleException(const std::exception& failure);
using TExceptionHandler = std::function<void(const std::exception&)>;
void SetExceptionHandler(TExceptionHandler handler);
