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
#include <string>

struct TTimeoutValues {
    int32_t ReadInterval = -1;
    int32_t ReadTotalMultiplier = 0;
    int32_t ReadTotalConstant = 0;
    int32_t WriteTotalMultiplier = 100;
    int32_t WriteTotalConstant = 1000;
};

// The second line of a refused open on this platform: the cause and what
// the operator can do, or "" for a cause without such advice.
std::string OpenFailureAdvice(int error);

class TSerialDevice {
public:
    TSerialDevice() = default;
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

private:
    void DrainOutput(int32_t& sent, const TDeadline& deadline);
    bool DropUnsentOutput();

    int FHandle = -1;
    TTimeoutValues FTimeouts;
    std::atomic<int32_t> FInputSize{1024}; // also read by the event thread
    int32_t FBitRate = 9600;
    int32_t FCharBits = 10; // bits on the line per character, for drain estimates
    TLineCounters FCounters;
    bool FTransmitterKnown = true;
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
