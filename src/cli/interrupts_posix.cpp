#include "cli/interrupts.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {
const int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler can reach only what is static; one watch per process.
volatile sig_atomic_t WriteEnd = -1;
struct sigaction PreviousActions[3];

void OnSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a pending signal: nothing is lost.
    [[maybe_unused]] const ssize_t written = write(WriteEnd, &byte, 1);
    errno = savedErrno;
}
}

TInterruptWatch::TInterruptWatch(QObject* owner) : QObject(owner)
{
    if (pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create the interrupt pipe");
    WriteEnd = FPipe[1];
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // System calls the handler interrupts are restarted: every wait of the
    // serial layer is bounded by its own time-out anyway.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(WatchedSignals); ++i) sigaction(WatchedSignals[i], &action, &PreviousActions[i]);
    FNotifier = new QSocketNotifier(FPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TInterruptWatch::Activated);
}

TInterruptWatch::~TInterruptWatch()
{
    for (size_t i = 0; i < std::size(WatchedSignals); ++i) sigaction(WatchedSignals[i], &PreviousActions[i], nullptr);
    WriteEnd = -1;
    delete FNotifier;
    close(FPipe[0]);
    close(FPipe[1]);
}

bool TInterruptWatch::TakePending()
{
    bool any = false;
    char buffer[64];
    while (read(FPipe[0], buffer, sizeof buffer) > 0) any = true;
    return any;
}

void TInterruptWatch::Activated()
{
    // Someone waiting on the descriptor may have taken the signal already.
    if (TakePending() && FHandler) FHandler();
}
