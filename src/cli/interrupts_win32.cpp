// Ctrl-C, Ctrl-Break and the console closing as an event of the Qt event
// loop on Windows. The console control handler runs on a thread of its own
// and only sets an event; a notifier on the event calls the program's
// handler on the event loop's thread. ReadDescriptor gives the event handle
// (as its 32-bit value) for a wait of our own.
//
// Closing the console window (or shutting Windows down) ends the process as
// soon as the handler returns, and at the latest after a grace time of
// about five seconds. So for those the handler returns only once the watch
// is destroyed, which the program does after the run has stopped, released
// its port and written its log record, or when the grace time is over.
#include "cli/interrupts.h"

#include <QWinEventNotifier>
#include <atomic>
#include <stdexcept>
#include <windows.h>

namespace {
// What Windows grants a process after the console closed; waiting longer
// gains nothing, it is ended then anyway.
constexpr DWORD CloseGraceMs = 5000;

// The handler can reach only what is static; one watch per process.
std::atomic<HANDLE> Pending{nullptr};
std::atomic<HANDLE> Finished{nullptr};

BOOL WINAPI OnControl(DWORD kind)
{
    switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (HANDLE event = Pending.load()) SetEvent(event);
        return TRUE; // handled: the process is not ended
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (HANDLE event = Pending.load()) SetEvent(event);
        if (HANDLE finished = Finished.load()) WaitForSingleObject(finished, CloseGraceMs);
        return TRUE;
    default: return FALSE;
    }
}
}

TInterruptWatch::TInterruptWatch(QObject* owner) : QObject(owner)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event || !finished) throw std::runtime_error("cannot create the interrupt events");
    // The two ends of the POSIX pipe become two events here: the pending
    // interrupt, and the program's end that a closing console waits for.
    FPipe[0] = HandleToLong(event);
    FPipe[1] = HandleToLong(finished);
    Pending = event;
    Finished = finished;
    SetConsoleCtrlHandler(OnControl, TRUE);
    auto* notifier = new QWinEventNotifier(event, this);
    connect(notifier, &QWinEventNotifier::activated, this, &TInterruptWatch::Activated);
}

TInterruptWatch::~TInterruptWatch()
{
    // First let a waiting handler return: removing the handler waits for it
    // (Wine holds the handler list's lock while one runs).
    SetEvent(LongToHandle(FPipe[1]));
    SetConsoleCtrlHandler(OnControl, FALSE);
    Pending = nullptr;
    Finished = nullptr;
    for (QWinEventNotifier* notifier : findChildren<QWinEventNotifier*>()) delete notifier;
    CloseHandle(LongToHandle(FPipe[0]));
    CloseHandle(LongToHandle(FPipe[1]));
}

bool TInterruptWatch::TakePending()
{
    HANDLE event = LongToHandle(FPipe[0]);
    const bool any = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    ResetEvent(event);
    return any;
}

void TInterruptWatch::Activated()
{
    // Someone waiting on the event may have taken the interrupt already.
    if (TakePending() && FHandler) FHandler();
}
