// What the layers below the run need of whoever operates it, while a run is
// under way: a flash target creates the boot method's prompt here, and the
// keep-alive, which fails in a timer handler with no caller to return to,
// reports its failure here. The programming run installs its operator's
// hooks for the span of the run; nothing is installed for the whole
// process, so no window class, terminal or test reaches below through a
// global of its own.
#pragma once

#include "core/userprompt.h"

#include <QObject>
#include <exception>

class TOperatorHooks {
public:
    virtual ~TOperatorHooks() = default;

    // The prompt a flash target shows while the operator resets the unit,
    // owned by owner.
    virtual TUserPrompt* CreatePrompt(QObject* owner) = 0;
    // A failure that has no caller to go to (the keep-alive's).
    virtual void BackgroundFailure(const std::exception& failure) = 0;
};

// Installs the hooks for the guard's lifetime. Guards nest: the one that
// ends restores the hooks installed before it.
class TOperatorHooksScope {
public:
    explicit TOperatorHooksScope(TOperatorHooks& hooks);
    ~TOperatorHooksScope();
    TOperatorHooksScope(const TOperatorHooksScope&) = delete;
    TOperatorHooksScope& operator=(const TOperatorHooksScope&) = delete;

private:
    TOperatorHooks* FPrevious;
};

// The hooks of the innermost guard. Without one: the silent prompt, and
// failures written to standard error.
TOperatorHooks& InstalledOperatorHooks();

// What happens without an operator: the silent base prompt, and the
// failure's message on standard error.
TUserPrompt* CreateSilentPrompt(QObject* owner);
void ReportToStandardError(const std::exception& failure);
