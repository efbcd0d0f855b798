// Ctrl-C (and SIGTERM, SIGQUIT) as an event of the Qt event loop. The signal
// handler only writes a byte into a pipe; the pipe's notifier calls the
// handler of the program's choice on the program's own thread, which is
// where the run may be told to stop. The run's waits handle events, so the
// notifier fires while a run is under way; a wait of our own for the
// operator's typing watches the pipe directly (ReadDescriptor).
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

class TInterruptWatch : public QObject {
    Q_OBJECT
public:
    // Installs the signal handlers; one watch per process.
    explicit TInterruptWatch(QObject* owner = nullptr);
    ~TInterruptWatch() override; // restores the previous handlers

    // Called on the event loop's thread once for each batch of signals.
    void SetHandler(std::function<void()> handler) { FHandler = std::move(handler); }

    // The pipe's reading end, readable while a signal is pending.
    int ReadDescriptor() const { return FPipe[0]; }
    // Takes the pending signals; true when there were any.
    bool TakePending();

private:
    void Activated();

    int FPipe[2] = {-1, -1};
    QSocketNotifier* FNotifier = nullptr;
    std::function<void()> FHandler;
};
