// The Linux side of the serial device: the tty descriptor, the driver calls
// behind a write's drain and the low-latency mode, and the event watch's
// epoll set and stop signal.
#pragma once

#include "serial/deadline.h"
#include "serial/lineconfig.h"
#include "serial/serialdevice.h"

#include <functional>

// The driver calls behind a write's drain and the low-latency mode. A
// device uses the system's; a test stands in for them where a
// pseudo-terminal cannot show the case: its output queue always reads
// empty and it has no serial settings. Each returns 0 or the errno value.
struct TDriverCalls {
    // Bytes the driver still holds unsent (TIOCOUTQ).
    std::function<int(int fd, int& queued)> OutputQueued;
    // Waits until the transmitter has sent what the driver handed it
    // (tcdrain), giving up at the deadline with ETIMEDOUT.
    std::function<int(int fd, const TDeadline& deadline)> DrainTransmitter;
    // The driver's low-latency mode (ASYNC_LOW_LATENCY of the serial
    // settings); Unsupported where the driver has none.
    std::function<int(int fd, TProbe& on)> ReadLowLatency;
    std::function<int(int fd, bool on)> WriteLowLatency;

    static TDriverCalls System();
};

// Runs a blocking driver call that a signal interrupts (it then fails with
// EINTR), interrupting it at the deadline: a real-time signal of its own
// (SIGRTMIN + 4, with a handler that does nothing) is sent to the calling
// thread then, and every 10 ms after. Returns the call's result, or
// ETIMEDOUT once the deadline has passed (or, no timer to be had, without
// making the call).
int CallUntil(const TDeadline& deadline, const std::function<int()>& call);

class TSerialDevice::TPlatform {
public:
    TDriverCalls Driver = TDriverCalls::System();
    int Handle = -1;
    int32_t BitRate = 9600;
    int32_t CharBits = 10;   // bits on the line per character, for drain estimates
    bool OutputFlow = false; // RTS/CTS or XON/XOFF may hold the output
    TLineCounters Counters;
    bool TransmitterKnown = true;
    bool LowLatencyOurs = false; // switched on by the open: switched off at close

    // Waits until what a write handed the driver is on the wire, or the
    // deadline; `sent` loses what was dropped at the deadline. Returns how
    // often bytes were still queued.
    uint64_t DrainOutput(int32_t& sent, const TDeadline& deadline);
    bool TransmitterDone(const TDeadline& deadline);
    bool DropUnsentOutput();
};

class TDeviceWatch::TPlatform {
public:
    int Device = -1;
    int Poll = -1;
    int StopSignal = -1;
    bool Received = true; // arrivals of bytes are watched
    bool Watching = true;
};
