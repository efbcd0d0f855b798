// Drives the real windows in tests (guienvironment.cpp supplies the
// application object): a driver that notices every modal window (and the
// modeless operator prompt) as it appears, logs it and lets the test answer
// it, and waits that keep the event loop running.
#pragma once

#include "tests/support/waits.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QMessageBox;
class TfrmUserFlash;

// A driver that is still polling after a minute records a failure and
// closes every modal window it finds, so a test that waits for a window
// that never comes fails instead of hanging.
class TGuiDriver : public QObject {
public:
    using THandler = std::function<void(QWidget* window)>;
    explicit TGuiDriver(THandler handler = {});

    void SetHandler(THandler handler) { FHandler = std::move(handler); }
    // One entry per window as it appeared, see Describe.
    const std::vector<std::string>& Log() const { return FLog; }
    const std::vector<std::string>& Titles() const { return FTitles; }
    int Count(const std::string& entry) const;

private:
    void Poll();
    void Notice(QWidget* window);

    void GiveUp();

    QTimer FTimer;
    QElapsedTimer FAge;
    bool FGivenUp = false;
    THandler FHandler;
    std::vector<QPointer<QWidget>> FShowing;
    std::vector<std::string> FLog;
    std::vector<std::string> FTitles;
};

// "error:<text>", "info:<text>", "warning:<text>", "question:<text>" for
// message boxes; "wizard", "setup", "about", "prompt:<text>" for the
// program's windows; the class name otherwise.
std::string Describe(QWidget* window);

// Runs the action from the event loop, after the current handler returns.
void Later(std::function<void()> action);
// Clicks a standard button of a message box.
void Answer(QWidget* box, int standardButton);

// Presses Start and keeps the event loop running until the run is over: the
// driver's log says so (ended), the window is no longer busy and no modal
// window is left. False when that did not happen within the wait's limit.
bool PressStartAndWaitForEnd(TfrmUserFlash& form, const TGuiDriver& driver,
                             const std::function<bool(const std::vector<std::string>& log)>& ended);

// The main window at rest, as before a run and after one has ended: not
// busy, Start enabled, the progress caption and bar reset, no busy cursor,
// and no operator prompt left on the screen.
void ExpectMainWindowIdle(TfrmUserFlash& form);
