#include "cli/interrupts.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {
// SIGQUIT (Ctrl-\) is one more way of asking to stop, not a request for a
// core dump in the middle of programming.
const int WatchedSignals[] = {SIGINT, SIGTERM, SIGQUIT};
// A terminal that went away takes nobody's answer with it that the run
// still needs: the run goes on to its end and writes its record, as it
// does when its standard output goes away.
const int IgnoredSignals[] = {SIGHUP};

// The handler can reach only what is static; one watch per process.
volatile sig_atomic_t WriteEnd = -1;
struct sigaction PreviousActions[std::size(WatchedSignals) + std::size(IgnoredSignals)];

void OnSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a pending signal: nothing is lost.
    [[maybe_unused]] const ssize_t written = write(WriteEnd, &byte, 1);
    errno = savedErrno;
}

// Installs the action unless the signal came ignored: whoever started us
// (nohup, a bench script's trap) decided about that signal already.
void Install(int signal, const struct sigaction& action, struct sigaction& previous)
{
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
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
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    size_t slot = 0;
    for (const int signal : WatchedSignals) Install(signal, action, PreviousActions[slot++]);
    for (const int signal : IgnoredSignals) Install(signal, ignore, PreviousActions[slot++]);
    FNotifier = new QSocketNotifier(FPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TInterruptWatch::Activated);
}

TInterruptWatch::~TInterruptWatch()
{
    size_t slot = 0;
    for (const int signal : WatchedSignals) sigaction(signal, &PreviousActions[slot++], nullptr);
    for (const int signal : IgnoredSignals) sigaction(signal, &PreviousActions[slot++], nullptr);
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
