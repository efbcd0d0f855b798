#include "serial/comthread.h"

#include "serial/serialdevice.h"

#include <QCoreApplication>
#include <QEvent>
#include <condition_variable>
#include <mutex>

// What the event thread and the owner thread share. It outlives the event
// thread: a hand-over posted to the owner thread may run after the thread
// has been stopped, and then finds itself withdrawn and does nothing.
struct TComThread::THandOver {
    enum TState { hsIdle, hsPending, hsRunning, hsDone, hsFailed };
    std::mutex Lock;
    std::condition_variable Changed;
    bool Stopping = false;
    bool Ended = false;
    TState State = hsIdle;
    uint64_t Batch = 0; // numbers each hand-over, so a late one can tell it is stale
};

// One batch of events on its way to the port's thread, where Qt delivers
// it to the port; Qt deletes it there, or with the port if it never runs.
class TComThread::THandOverEvent : public QEvent {
public:
    THandOverEvent(std::shared_ptr<THandOver> shared, uint64_t batch, TComEvents events)
        : QEvent(Type()), FShared(std::move(shared)), FBatch(batch), FEvents(events)
    {
    }
    static QEvent::Type Type()
    {
        static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    void Run(TCustomComPort* port);

private:
    std::shared_ptr<THandOver> FShared;
    uint64_t FBatch;
    TComEvents FEvents;
};

void TComThread::THandOverEvent::Run(TCustomComPort* port)
{
    {
        std::lock_guard<std::mutex> guard(FShared->Lock);
        // Withdrawn by a stop, or left over from an earlier thread.
        if (FShared->Stopping || FShared->Batch != FBatch || FShared->State != THandOver::hsPending) return;
        FShared->State = THandOver::hsRunning;
    }
    bool ok = true;
    try {
        port->HandleEvents(FEvents);
    } catch (const std::exception&) {
        ok = false;
    }
    {
        std::lock_guard<std::mutex> guard(FShared->Lock);
        FShared->State = ok ? THandOver::hsDone : THandOver::hsFailed;
    }
    FShared->Changed.notify_all();
}

bool TComThread::Deliver(QEvent* event, TCustomComPort* port)
{
    if (event->type() != THandOverEvent::Type()) return false;
    static_cast<THandOverEvent*>(event)->Run(port);
    return true;
}

TComThread::TComThread(TCustomComPort* port, TSerialDevice* device, TComEvents events)
    : FComPort(port), FDevice(device), FEvents(events), FWatch(std::make_unique<TDeviceWatch>(
          *device, (events & (ComEventBit(evRxChar) | ComEventBit(evRx80Full))) != 0)),
      FShared(std::make_shared<THandOver>())
{
    FThread = std::thread([this] { Execute(); });
}

TComThread::~TComThread() { Stop(); }

void TComThread::Stop()
{
    {
        std::lock_guard<std::mutex> guard(FShared->Lock);
        FShared->Stopping = true;
    }
    FShared->Changed.notify_all();
    FWatch->Stop();
    if (FThread.joinable()) FThread.join();
}

bool TComThread::Running() const
{
    std::lock_guard<std::mutex> guard(FShared->Lock);
    return !FShared->Ended;
}

void TComThread::HoldReceived(bool hold) { FWatch->HoldReceived(hold); }

TComEvents TComThread::Translate(bool received, bool gone) const
{
    TComEvents events = 0;
    if (received) {
        try {
            // Bytes a read has already taken leave nothing to report: the
            // handling would find the queue empty. The 80 % mark of the
            // input queue is a count, not a wake-up of its own.
            const int64_t queued = FDevice->QueuedInput();
            if (queued > 0) events |= ComEventBit(evRxChar);
            if (queued > 0 && queued * 5 >= int64_t(FDevice->InputQueueSize()) * 4) events |= ComEventBit(evRx80Full);
        } catch (const EComPort&) {
            gone = true;
        }
    }
    if (gone) events |= ComEventBit(evError);
    return events & FEvents;
}

void TComThread::Execute()
{
    bool failed = false;
    TDeviceWatch::TEvents happened;
    while (FWatch->Wait(happened) == TDeviceWatch::wrEvents) {
        TComEvents events = Translate(happened.Received, happened.Gone);
        if (events == 0) continue;
        if (!HandOver(events)) {
            std::lock_guard<std::mutex> guard(FShared->Lock);
            failed = FShared->State == THandOver::hsFailed;
            break;
        }
    }
    // A failure while handling ends the thread as it stands; a stop
    // leaves both queues empty.
    if (!failed) FDevice->PurgeQuietly();
    std::lock_guard<std::mutex> guard(FShared->Lock);
    FShared->Ended = true;
}

bool TComThread::HandOver(TComEvents events)
{
    std::shared_ptr<THandOver> shared = FShared;
    uint64_t batch;
    {
        std::lock_guard<std::mutex> guard(shared->Lock);
        if (shared->Stopping) return false;
        shared->State = THandOver::hsPending;
        batch = ++shared->Batch;
    }
    // Runs on the owner thread when it next handles its events.
    QCoreApplication::postEvent(FComPort, new THandOverEvent(shared, batch, events));

    std::unique_lock<std::mutex> guard(shared->Lock);
    shared->Changed.wait(guard, [&] {
        return shared->Stopping || shared->State == THandOver::hsDone || shared->State == THandOver::hsFailed;
    });
    return shared->State == THandOver::hsDone && !shared->Stopping;
}
