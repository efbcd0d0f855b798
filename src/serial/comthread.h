// The event thread of an open port: it waits for line events and hands
// each batch to the thread that owns the port, waiting until it has been
// handled there.
#pragma once

#include "serial/comport.h"

#include <memory>
#include <thread>

class QEvent;
class TDeviceWatch;
class TSerialDevice;

class TComThread {
public:
    // Starts watching `device` for the port's selected events.
    TComThread(TCustomComPort* port, TSerialDevice* device, TComEvents events);
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;
    // Stops the thread and waits until it has ended.
    ~TComThread();

    // Ends the thread and waits for it. A hand-over still waiting for the
    // owner thread is withdrawn, so this never waits on the owner thread
    // and may be called while a hand-over is pending or being handled.
    void Stop();
    // True until the thread has ended (stopped, or ended by a failure
    // raised while its events were handled).
    bool Running() const;
    // See TDeviceWatch::HoldReceived.
    void HoldReceived(bool hold);
    // Runs a hand-over that has reached the port's own thread; false when
    // the event is something else.
    static bool Deliver(QEvent* event, TCustomComPort* port);

private:
    struct THandOver;
    class THandOverEvent;
    void Execute();
    TComEvents Translate(bool received, bool gone) const;
    // Hands the events to the owner thread; false when the thread must end.
    bool HandOver(TComEvents events);

    TCustomComPort* FComPort;
    TSerialDevice* FDevice;
    TComEvents FEvents;
    std::unique_ptr<TDeviceWatch> FWatch;
    std::shared_ptr<THandOver> FShared;
    std::thread FThread;
};
