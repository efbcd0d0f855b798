// The operator as the programming run sees them: the one interface through
// which a window, the command line, a test or a benchmark answers the run.
// For the span of the run its prompt and its background failures are what
// the layers below reach (core/operatorhooks.h).
#pragma once

#include "run/runsteps.h"
#include "run/wizardpage.h"

#include <exception>
#include <string>

class QObject;
class TMessageDialogs;
class TMorvexComPort;
class TProgressView;
class TStatusText;
class TUserPrompt;

class TRunOperator {
public:
    virtual ~TRunOperator() = default;

    // The cabling page; true when the operator goes on (Next).
    virtual bool ShowWizardPage(const TWizardPage& page) = 0;
    // The connection's port, bit rate, data bits, stop bits and parity;
    // true when the operator confirms them (the port then holds them).
    virtual bool EditPortSettings(TMorvexComPort& port) = 0;
    // "User Connect Method Failed (...). Try Boot Method?"; true on Yes.
    virtual bool AskBootMethod(const std::string& question) = 0;

    // The prompt the boot method shows while the operator resets the unit,
    // owned by owner (the flash target). By default the silent one.
    virtual TUserPrompt* CreatePrompt(QObject* owner);
    // A failure with no caller to return to: the keep-alive between steps
    // found the unit gone. The run has put it in its report already. By
    // default its message goes to standard error.
    virtual void BackgroundFailure(const std::exception& failure);

    // Where the protocol shows its status text and progress; either may be
    // null. Asked once per flash target.
    virtual TStatusText* StatusText() = 0;
    virtual TProgressView* ProgressView() = 0;
    // The message boxes of the interactive comparison; null: none.
    virtual TMessageDialogs* CompareDialogs() { return nullptr; }

    // Each step as it begins.
    virtual void StepStarted(TRunStep step) { (void)step; }
    // The closing information of a run that succeeded ("Unit Successfully
    // Programmed!"), shown while the run is still under way.
    virtual void ShowSuccess(const std::string& text) = 0;
    // The run's last clean-up, after success and failure alike.
    virtual void RunEnded() {}
    // The failure that ended a run, after RunEnded.
    virtual void ShowFailure(const std::exception& failure, TFailureKind kind) = 0;
};
