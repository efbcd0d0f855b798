// The serial device as the port sees it: one open tty with exclusive
// access, transfers bounded by the driver time-outs, purges and status
// queries. Each call raises EComPort with the port's code for that kind of
// call and the errno value; a device that has gone away (unplugged, or the
// other side of a pseudo-terminal closed) is reported at once as such.
#pragma once

#include "serial/comport.h"
#include "serial/deadline.h"
#include "serial/lineconfig.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

struct TTimeoutValues {
    int32_t ReadInterval = -1;
    int32_t ReadTotalMultiplier = 0;
    int32_t ReadTotalConstant = 0;
    int32_t WriteTotalMultiplier = 100;
    int32_t WriteTotalConstant = 1000;
};

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

// The second line of a refused open on this platform: the cause and what
// the operator can do, or "" for a cause without such advice.
std::string OpenFailureAdvice(int error);

class TSerialDevice {
public:
    TSerialDevice();
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;
    ~TSerialDevice();

    void Open(const std::string& path); // code 1
    void Close();
    bool IsOpen() const { return FHandle >= 0; }
    int Handle() const { return FHandle; }

    void ApplyQueueSizes(int32_t inputSize, int32_t outputSize); // code 9
    void ApplyLine(const TLineConfig& config, TDTRFlowControl dtr,
                   TRTSFlowControl rts); // code 7
    void ApplyTimeouts(const TTimeoutValues& timeouts) { FTimeouts = timeouts; }
    int32_t InputQueueSize() const { return FInputSize; }
    int32_t BitRate() const; // read back from the driver; 0 when unknown

    int32_t Write(const void* buffer, int32_t count); // code 2
    int32_t Read(void* buffer, int32_t count);        // code 3
    // Called every WaitSliceMs while a read waits for its bytes, so that the
    // caller's thread can handle its events (a window keeps painting during
    // an erase that takes seconds). Empty: the read just waits.
    static constexpr int WaitSliceMs = 50;
    void SetWaitHook(std::function<void()> hook) { FWaitHook = std::move(hook); }
    // Drops received bytes (input) and bytes the driver still holds unsent
    // (output). Code 5.
    void Purge(bool input, bool output);
    // Ends what is still under way: bytes the driver holds unsent are
    // dropped. A device that has gone away has nothing left to end.
    void AbortTransfers();
    // The purge that ends the event watch; it cannot fail.
    void PurgeQuietly();
    int32_t QueuedInput();      // code 10
    TComErrors LineErrors();    // code 10
    TComSignals ModemSignals(); // code 11

    void SetDriverCalls(TDriverCalls calls) { FDriver = std::move(calls); }
    // How often a write found bytes still queued in the driver and waited
    // for them: by this device, and by every device of the process.
    uint64_t QueueWaits() const { return FQueueWaits; }
    static uint64_t QueueWaitsOfAllDevices() { return FAllQueueWaits; }

private:
    void DrainOutput(int32_t& sent, const TDeadline& deadline);
    bool TransmitterDone(const TDeadline& deadline);
    bool DropUnsentOutput();

    TDriverCalls FDriver;
    std::function<void()> FWaitHook;
    int FHandle = -1;
    TTimeoutValues FTimeouts;
    std::atomic<int32_t> FInputSize{1024}; // also read by the event thread
    int32_t FBitRate = 9600;
    int32_t FCharBits = 10;   // bits on the line per character, for drain estimates
    bool FOutputFlow = false; // RTS/CTS or XON/XOFF may hold the output
    TLineCounters FCounters;
    bool FTransmitterKnown = true;
    bool FLowLatencyOurs = false; // switched on by the open: switched off at close
    uint64_t FQueueWaits = 0;
    static std::atomic<uint64_t> FAllQueueWaits;
};

// Waits for line events on an open device from the event thread, until
// Stop is called from any thread.
class TDeviceWatch {
public:
    enum TResult { wrStopped, wrEvents };
    struct TEvents {
        bool Received = false; // new bytes arrived
        bool Gone = false;     // hang-up or device error: the device is gone
    };

    explicit TDeviceWatch(int deviceHandle); // code 21 when the wait cannot be set up
    TDeviceWatch(const TDeviceWatch&) = delete;
    TDeviceWatch& operator=(const TDeviceWatch&) = delete;
    ~TDeviceWatch();

    // Blocks until something happens. A received-data event is reported
    // once per arrival, not for as long as bytes stay queued.
    TResult Wait(TEvents& events);
    void Stop();
    // While held (from any thread), arrivals of bytes wake nobody; a
    // hang-up still does. Releasing reports bytes still queued at once.
    void HoldReceived(bool hold);

private:
    int FDevice;
    int FPoll = -1;
    int FStopSignal = -1;
    bool FWatching = true;
};
