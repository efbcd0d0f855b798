// The serial device as the port sees it: one open device with exclusive
// access, transfers bounded by the driver time-outs, purges and status
// queries. Each call raises EComPort with the port's code for that kind of
// call and the system's error number; a device that has gone away
// (unplugged, or the other side of a pseudo-terminal closed) is reported at
// once as such. Every platform implements this in files of its own (chosen
// by the build), keeping its own state in its TPlatform.
#pragma once

#include "serial/serialtypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct TTimeoutValues {
    int32_t ReadInterval = -1;
    int32_t ReadTotalMultiplier = 0;
    int32_t ReadTotalConstant = 0;
    int32_t WriteTotalMultiplier = 100;
    int32_t WriteTotalConstant = 1000;
    bool operator==(const TTimeoutValues&) const = default;
};

// The line as the port asks for it; each backend puts it in its driver's terms.
struct TLineSettings {
    int32_t BitRate = 9600;
    int32_t CharBits = 8; // 5 to 8
    TParityBits Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    bool CheckParity = false;
    bool RtsCtsFlow = false;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    char XonChar = 17;
    char XoffChar = 19;
};

// The second line of a refused open on this platform: the cause and what
// the operator can do, or "" for a cause without such advice.
std::string OpenFailureAdvice(int error);

class TSerialDevice {
public:
    // The platform's own state (serialdevice_<platform>.h).
    class TPlatform;

    TSerialDevice();
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;
    ~TSerialDevice();

    void Open(const std::string& path); // code 1
    void Close();
    bool IsOpen() const;
    // The system's handle of the open device as a number (a descriptor, or
    // the value of a HANDLE); -1 while closed.
    intptr_t Handle() const;

    void ApplyQueueSizes(int32_t inputSize, int32_t outputSize); // code 9
    void ApplyLine(const TLineSettings& line, TDTRFlowControl dtr,
                   TRTSFlowControl rts); // code 7
    // Recorded here; a transfer hands them to the driver when they differ
    // from what it holds (code 8).
    void ApplyTimeouts(const TTimeoutValues& timeouts) { FTimeouts = timeouts; }
    int32_t InputQueueSize() const { return FInputSize; }
    int32_t BitRate() const; // read back from the driver; 0 when unknown

    // A write completes when its bytes are on the wire (or its time-out has
    // passed): only then may the caller close the port or change the bit
    // rate without losing them.
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

    // How often a write found bytes still queued in the driver and waited
    // for them: by this device, and by every device of the process.
    uint64_t QueueWaits() const { return FQueueWaits; }
    static uint64_t QueueWaitsOfAllDevices() { return FAllQueueWaits; }

    TPlatform& Platform() { return *F; }
    const TPlatform& Platform() const { return *F; }

private:
    void CountQueueWaits(uint64_t waits)
    {
        FQueueWaits += waits;
        FAllQueueWaits += waits;
    }

    std::unique_ptr<TPlatform> F;
    std::function<void()> FWaitHook;
    TTimeoutValues FTimeouts;
    std::atomic<int32_t> FInputSize{1024}; // also read by the event thread
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
    // The platform's own state (serialdevice_<platform>.h).
    class TPlatform;

    // received: whether arrivals of bytes are watched at all. A port whose
    // owner handles no received-data event leaves them out, and holding
    // and releasing them around each read then costs nothing.
    explicit TDeviceWatch(TSerialDevice& port, bool received = true); // code 21 when the wait cannot be set up
    TDeviceWatch(const TDeviceWatch&) = delete;
    TDeviceWatch& operator=(const TDeviceWatch&) = delete;
    ~TDeviceWatch();

    // Blocks until something happens. A received-data event is reported
    // once per arrival, not for as long as bytes stay queued.
    TResult Wait(TEvents& events);
    void Stop();
    // While held (from any thread), arrivals of bytes wake nobody; a
    // hang-up still does. Releasing reports bytes still queued at once.
    // Without received-data watching it does nothing.
    void HoldReceived(bool hold);

private:
    std::unique_ptr<TPlatform> F;
};
