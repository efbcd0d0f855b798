// Ctrl-C, Ctrl-Break and the console closing as an event of the Qt event
// loop on Windows. The console control handler runs on a thread of its own
// and only sets an event; a notifier on the event calls the program's
// handler on the event loop's thread. ReadDescriptor gives the event handle
// (as its 32-bit value) for a wait of our own.
#include "cli/interrupts.h"

#include <QWinEventNotifier>
#include <atomic>
#include <stdexcept>
#include <windows.h>

namespace {
// The handler can reach only what is static; one watch per process.
std::atomic<HANDLE> Pending{nullptr};

BOOL WINAPI OnControl(DWORD kind)
{
    switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        if (HANDLE event = Pending.load()) SetEvent(event);
        return TRUE; // handled: the process is not ended at once
    default: return FALSE;
    }
}
}

TInterruptWatch::TInterruptWatch(QObject* owner) : QObject(owner)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) throw std::runtime_error("cannot create the interrupt event");
    FPipe[0] = HandleToLong(event);
    Pending = event;
    SetConsoleCtrlHandler(OnControl, TRUE);
    auto* notifier = new QWinEventNotifier(event, this);
    connect(notifier, &QWinEventNotifier::activated, this, &TInterruptWatch::Activated);
}

TInterruptWatch::~TInterruptWatch()
{
    SetConsoleCtrlHandler(OnControl, FALSE);
    Pending = nullptr;
    for (QWinEventNotifier* notifier : findChildren<QWinEventNotifier*>()) delete notifier;
    CloseHandle(LongToHandle(FPipe[0]));
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
