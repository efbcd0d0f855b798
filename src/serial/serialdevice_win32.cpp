// The Win32 serial backend: a communications device opened for overlapped
// I/O with no sharing, the line set through the DCB, transfers bounded by
// the driver's own COMMTIMEOUTS, and the event watch on WaitCommEvent with
// a stop event.
#include "serial/serialdevice_win32.h"

#include <algorithm>
#include <mutex>

namespace {

int32_t LastError() { return int32_t(GetLastError()); }

// Errors of a driver that does not offer the request (a port without modem
// lines, such as a pseudo-terminal behind Wine).
bool NotOffered(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER;
}

// One overlapped transfer, signalled through the device's own transfer
// event (the driver resets it as the transfer starts). The OVERLAPPED and
// the caller's buffer belong to the driver while the transfer is pending,
// so it never leaves scope pending: a wait given up (a wait hook that
// raised, a broken wait) cancels it and waits for the cancellation first.
class TOverlappedTransfer {
public:
    TOverlappedTransfer(HANDLE device, HANDLE event, int32_t code) : FDevice(device), FCode(code)
    {
        FOverlapped.hEvent = event;
    }
    ~TOverlappedTransfer()
    {
        if (FPending) {
            CancelIoEx(FDevice, &FOverlapped);
            DWORD ignored = 0;
            GetOverlappedResult(FDevice, &FOverlapped, &ignored, TRUE);
        }
    }
    TOverlappedTransfer(const TOverlappedTransfer&) = delete;
    TOverlappedTransfer& operator=(const TOverlappedTransfer&) = delete;

    // Starts the transfer and runs it to its end, as the driver's time-outs
    // bound it. With a hook the wait goes in slices of sliceMs, the hook
    // between them; the completion ends a slice at once. Returns the bytes
    // transferred; throws the code with the system error.
    template <typename TCall>
    int32_t Run(TCall call, const std::function<void()>& hook, int sliceMs)
    {
        DWORD done = 0;
        if (!call(&FOverlapped, &done)) {
            if (GetLastError() != ERROR_IO_PENDING) return Failed();
            FPending = true;
            for (;;) {
                const DWORD waited = WaitForSingleObject(FOverlapped.hEvent, hook ? DWORD(sliceMs) : INFINITE);
                if (waited == WAIT_OBJECT_0) break;
                if (waited != WAIT_TIMEOUT) throw EComPort(FCode, LastError());
                hook();
            }
            FPending = false; // the event is set: the driver is done with it
        }
        if (!GetOverlappedResult(FDevice, &FOverlapped, &done, FALSE)) return Failed();
        return int32_t(done);
    }

private:
    // A transfer the time-outs ended completes with STATUS_TIMEOUT, a
    // success status: Windows reports it as such, Wine as this error.
    // Either way the count is what was transferred.
    int32_t Failed()
    {
        const DWORD error = GetLastError();
        if (error != ERROR_TIMEOUT) throw EComPort(FCode, int32_t(error));
        return int32_t(FOverlapped.InternalHigh);
    }

    HANDLE FDevice;
    int32_t FCode;
    OVERLAPPED FOverlapped{};
    bool FPending = false;
};

// ClearCommError clears the error flags it returns. Every status query
// counts them into the device's line counters, so a queue query (also the
// event thread's) takes none away from the next LineErrors.
std::mutex StatusLock;

bool TakeStatus(HANDLE device, TLineErrorCounts& counters, COMSTAT& status)
{
    DWORD flags = 0;
    std::lock_guard<std::mutex> guard(StatusLock);
    if (!ClearCommError(device, &flags, &status)) return false;
    if (flags & CE_FRAME) ++counters.Frame;
    if (flags & CE_RXPARITY) ++counters.Parity;
    if (flags & CE_OVERRUN) ++counters.Overrun;
    if (flags & CE_BREAK) ++counters.Break;
    if (flags & CE_RXOVER) ++counters.BufferOverrun;
    return true;
}

// The errors counted since the last report; the counters start again.
TComErrors TakeErrors(TLineErrorCounts& counters)
{
    std::lock_guard<std::mutex> guard(StatusLock);
    TComErrors errors = 0;
    if (counters.Frame) errors |= ComErrorBit(ceFrame);
    if (counters.Parity) errors |= ComErrorBit(ceRxParity);
    if (counters.Overrun) errors |= ComErrorBit(ceOverrun);
    if (counters.Break) errors |= ComErrorBit(ceBreak);
    if (counters.BufferOverrun) errors |= ComErrorBit(ceRxOver);
    counters = TLineErrorCounts();
    return errors;
}

BYTE ParityOf(TParityBits parity)
{
    switch (parity) {
    case prOdd: return ODDPARITY;
    case prEven: return EVENPARITY;
    case prMark: return MARKPARITY;
    case prSpace: return SPACEPARITY;
    default: return NOPARITY;
    }
}

BYTE StopBitsOf(TStopBits bits)
{
    switch (bits) {
    case sbOne5StopBits: return ONE5STOPBITS;
    case sbTwoStopBits: return TWOSTOPBITS;
    default: return ONESTOPBIT;
    }
}

DWORD DtrControlOf(TDTRFlowControl dtr)
{
    switch (dtr) {
    case dtrEnable: return DTR_CONTROL_ENABLE;
    case dtrHandshake: return DTR_CONTROL_HANDSHAKE;
    default: return DTR_CONTROL_DISABLE;
    }
}

DWORD RtsControlOf(TRTSFlowControl rts)
{
    switch (rts) {
    case rtsEnable: return RTS_CONTROL_ENABLE;
    case rtsHandshake: return RTS_CONTROL_HANDSHAKE;
    case rtsToggle: return RTS_CONTROL_TOGGLE;
    default: return RTS_CONTROL_DISABLE;
    }
}

// The whole DCB from what the port asks; the characters it does not name
// (end of file, error, event) are 0.
void FillDcb(DCB& dcb, const TLineSettings& config, TDTRFlowControl dtr, TRTSFlowControl rts, int32_t inputSize)
{
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = DWORD(config.BitRate);
    dcb.ByteSize = BYTE(config.CharBits);
    dcb.Parity = ParityOf(config.Parity);
    dcb.StopBits = StopBitsOf(config.StopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = config.CheckParity ? TRUE : FALSE;
    dcb.fOutxCtsFlow = config.RtsCtsFlow ? TRUE : FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DtrControlOf(dtr);
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = config.XonXoffOut ? TRUE : FALSE;
    dcb.fInX = config.XonXoffIn ? TRUE : FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // RTS handshake with CTS output flow, or as the port asks for it.
    dcb.fRtsControl = config.RtsCtsFlow && rts != rtsToggle ? RTS_CONTROL_HANDSHAKE : RtsControlOf(rts);
    // Transfers must not stop at the first line error: errors are read
    // through LineErrors instead.
    dcb.fAbortOnError = FALSE;
    dcb.XonChar = config.XonChar;
    dcb.XoffChar = config.XoffChar;
    // XOFF when the input queue is three quarters full, XON again at a quarter.
    const int32_t size = inputSize > 0 ? inputSize : 1024;
    dcb.XonLim = WORD(size / 4 > 0xFFFF ? 0xFFFF : size / 4);
    dcb.XoffLim = WORD(size / 4 > 0xFFFF ? 0xFFFF : size / 4);
}

// The port's time-outs as the driver takes them; the rules are the driver's.
COMMTIMEOUTS DriverTimeouts(const TTimeoutValues& values)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = DWORD(uint32_t(values.ReadInterval));
    timeouts.ReadTotalTimeoutMultiplier = DWORD(uint32_t(values.ReadTotalMultiplier));
    timeouts.ReadTotalTimeoutConstant = DWORD(uint32_t(values.ReadTotalConstant));
    timeouts.WriteTotalTimeoutMultiplier = DWORD(uint32_t(values.WriteTotalMultiplier));
    timeouts.WriteTotalTimeoutConstant = DWORD(uint32_t(values.WriteTotalConstant));
    return timeouts;
}

} // namespace

// A port another program holds is refused with access denied.
std::string OpenFailureAdvice(int error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "The port is in use by another program: close it (a terminal program or another programmer may hold "
               "it) and try again.";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return "No such port: check the cable or adapter and the port name (Device Manager lists the COM ports).";
    default: return "";
    }
}

std::atomic<uint64_t> TSerialDevice::FAllQueueWaits{0};

TSerialDevice::TSerialDevice() : F(std::make_unique<TPlatform>()) {}

TSerialDevice::~TSerialDevice() { Close(); }

bool TSerialDevice::IsOpen() const { return F->Handle != INVALID_HANDLE_VALUE; }

intptr_t TSerialDevice::Handle() const { return reinterpret_cast<intptr_t>(F->Handle); }

void TSerialDevice::Open(const std::string& path)
{
    if (IsOpen()) return;
    if (path.empty()) throw EComPort(CError_OpenFailed, ERROR_FILE_NOT_FOUND);
    HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) throw EComPort(CError_OpenFailed, LastError());
    // Every transfer of the device signals this one event: an event made
    // and closed for each would cost two more driver calls per transfer
    // (under Wine, round trips to its server).
    HANDLE transferEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!transferEvent) {
        const int32_t error = LastError();
        CloseHandle(device);
        throw EComPort(CError_OpenFailed, error);
    }
    // A raw line: binary, no flow control, transfers not stopped by line
    // errors, at the port's default bit rate until the port applies its
    // own. The DCB is built whole rather than read first: Wine cannot read
    // back a pseudo-terminal set to a bit rate outside the standard table.
    // Anything that is not a communications device refuses it.
    DCB dcb{};
    FillDcb(dcb, TLineSettings(), dtrEnable, rtsDisable, FInputSize);
    DWORD error = SetCommState(device, &dcb) ? 0 : GetLastError();
    // Reads return what is queued at once until the port sets its own.
    COMMTIMEOUTS timeouts = DriverTimeouts(TTimeoutValues());
    if (!error && !SetCommTimeouts(device, &timeouts)) error = GetLastError();
    if (error) {
        CloseHandle(transferEvent);
        CloseHandle(device);
        throw EComPort(CError_OpenFailed, int32_t(error));
    }
    *F = TPlatform();
    F->TransferEvent = transferEvent;
    COMSTAT status{};
    TakeStatus(device, F->Counters, status);
    F->Counters = TLineErrorCounts(); // errors from before the open are not ours
    F->BitRate = int32_t(dcb.BaudRate);
    F->Handle = device;
}

void TSerialDevice::Close()
{
    if (!IsOpen()) return;
    CloseHandle(F->Handle);
    CloseHandle(F->TransferEvent);
    F->Handle = INVALID_HANDLE_VALUE;
    F->TransferEvent = nullptr;
}

void TSerialDevice::ApplyQueueSizes(int32_t inputSize, int32_t outputSize)
{
    if (!IsOpen()) throw EComPort(CError_SetupComFailed, ERROR_INVALID_HANDLE);
    if (inputSize < 0 || outputSize < 0) throw EComPort(CError_SetupComFailed, ERROR_INVALID_PARAMETER);
    if (!SetupComm(F->Handle, DWORD(inputSize), DWORD(outputSize))) throw EComPort(CError_SetupComFailed, LastError());
    FInputSize = inputSize;
}

void TSerialDevice::ApplyLine(const TLineSettings& config, TDTRFlowControl dtr, TRTSFlowControl rts)
{
    if (!IsOpen()) throw EComPort(CError_SetStateFailed, ERROR_INVALID_HANDLE);
    DCB dcb{};
    FillDcb(dcb, config, dtr, rts, FInputSize);
    // The driver completes a write once the UART has taken its bytes; the
    // last of them may still be in its FIFO and shift register, and would
    // leave at the new rate.
    if (!F->LineQuietAt.Passed()) Sleep(DWORD(F->LineQuietAt.PollTimeout()));
    if (!SetCommState(F->Handle, &dcb)) throw EComPort(CError_SetStateFailed, LastError());
    F->BitRate = config.BitRate;
    F->CharBits = 1 + config.CharBits + (config.Parity != prNone ? 1 : 0) + (config.StopBits == sbOneStopBit ? 1 : 2);
    F->OutputFlow = config.RtsCtsFlow || config.XonXoffOut;
}

int32_t TSerialDevice::BitRate() const
{
    if (!IsOpen()) return 0;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(F->Handle, &dcb)) return 0;
    return int32_t(dcb.BaudRate);
}

void TSerialDevice::TPlatform::UseTimeouts(const TTimeoutValues& timeouts)
{
    if (TimeoutChanges > 0 && timeouts == DriverTimeouts) return;
    COMMTIMEOUTS driver = ::DriverTimeouts(timeouts);
    if (!SetCommTimeouts(Handle, &driver)) throw EComPort(CError_TimeoutsFailed, LastError());
    DriverTimeouts = timeouts;
    ++TimeoutChanges;
}

// Characters a UART may still hold once its driver has completed a write:
// a 16-byte FIFO and the shift register.
constexpr int32_t UartHeldChars = 17;

int64_t TSerialDevice::TPlatform::LineMs(int32_t chars) const
{
    return (int64_t(chars) * CharBits * 1000 + BitRate - 1) / (BitRate > 0 ? BitRate : 1);
}

int32_t TSerialDevice::Write(const void* buffer, int32_t count)
{
    if (!IsOpen()) throw EComPort(CError_WriteFailed, ERROR_INVALID_HANDLE);
    if (count <= 0) return 0;
    const TDeadline deadline = TDeadline::Total(FTimeouts.WriteTotalMultiplier, FTimeouts.WriteTotalConstant, count);
    F->UseTimeouts(FTimeouts);
    HANDLE device = F->Handle;
    int32_t sent =
        TOverlappedTransfer(device, F->TransferEvent, CError_WriteFailed)
            .Run([&](OVERLAPPED* overlapped,
                     DWORD* done) { return WriteFile(device, buffer, DWORD(count), done, overlapped) != FALSE; },
                 nullptr, WaitSliceMs);
    CountQueueWaits(F->DrainOutput(sent, deadline));
    F->LineQuietAt = TDeadline::After(F->LineMs(std::min(sent, UartHeldChars)));
    return sent;
}

// A write is complete when its bytes are on the wire: only then may the
// caller close the port or change the bit rate without losing them. The
// driver's output queue is waited for within the write time-out; then,
// unless flow control could hold the line past any time-out, the driver is
// asked to flush (Wine drains the terminal's transmitter for it, as tcdrain).
uint64_t TSerialDevice::TPlatform::DrainOutput(int32_t& sent, const TDeadline& deadline)
{
    uint64_t waits = 0;
    for (;;) {
        COMSTAT status{};
        if (!TakeStatus(Handle, Counters, status)) throw EComPort(CError_WriteFailed, LastError());
        const int32_t queued = int32_t(status.cbOutQue);
        if (queued == 0) break;
        ++waits;
        if (deadline.Passed()) {
            // What did not go out is dropped and not counted as written.
            sent = queued >= sent ? 0 : sent - queued;
            if (!PurgeComm(Handle, PURGE_TXCLEAR)) throw EComPort(CError_WriteFailed, LastError());
            return waits;
        }
        // About as long as the queued characters take on the line.
        Sleep(DWORD(std::clamp<int64_t>(std::min<int64_t>(LineMs(queued), deadline.PollTimeout()), 1, 50)));
    }
    if (!OutputFlow && !FlushFileBuffers(Handle)) {
        const DWORD error = GetLastError();
        if (!NotOffered(error)) throw EComPort(CError_WriteFailed, int32_t(error));
    }
    return waits;
}

int32_t TSerialDevice::Read(void* buffer, int32_t count)
{
    if (!IsOpen()) throw EComPort(CError_ReadFailed, ERROR_INVALID_HANDLE);
    if (count <= 0) return 0;
    F->UseTimeouts(FTimeouts);
    HANDLE device = F->Handle;
    // Interval all bits set with both totals 0: at once with what is
    // queued. The read asks for no more than that, and is not made when
    // nothing is queued (Wine leaves such an overlapped read pending until
    // a byte comes).
    if (FTimeouts.ReadInterval == -1 && FTimeouts.ReadTotalMultiplier == 0 && FTimeouts.ReadTotalConstant == 0) {
        const int32_t queued = QueuedInput();
        if (queued == 0) return 0;
        count = std::min(count, queued);
    }
    // One read for the whole count: the driver's time-outs end it, and the
    // wait goes in slices so that the wait hook runs while it is pending.
    return TOverlappedTransfer(device, F->TransferEvent, CError_ReadFailed)
        .Run([&](OVERLAPPED* overlapped,
                 DWORD* done) { return ReadFile(device, buffer, DWORD(count), done, overlapped) != FALSE; },
             FWaitHook, WaitSliceMs);
}

// Only what the driver really still holds unsent is dropped: where the
// driver cannot tell (a pseudo-terminal behind Wine reports an empty output
// queue), a purge could reach bytes that have already left.
bool TSerialDevice::TPlatform::DropUnsentOutput()
{
    COMSTAT status{};
    if (!TakeStatus(Handle, Counters, status)) return false;
    if (status.cbOutQue > 0 && !PurgeComm(Handle, PURGE_TXCLEAR)) return false;
    return true;
}

void TSerialDevice::Purge(bool input, bool output)
{
    if (!IsOpen()) throw EComPort(CError_PurgeFailed, ERROR_INVALID_HANDLE);
    if (input && !PurgeComm(F->Handle, PURGE_RXCLEAR)) throw EComPort(CError_PurgeFailed, LastError());
    if (output && !F->DropUnsentOutput()) throw EComPort(CError_PurgeFailed, LastError());
}

void TSerialDevice::AbortTransfers()
{
    if (!IsOpen()) throw EComPort(CError_PurgeFailed, ERROR_INVALID_HANDLE);
    // Every transfer of this backend has finished before its call returned:
    // what is left is bytes a timed-out write left queued. A device that has
    // gone away has nothing left to end.
    if (!F->DropUnsentOutput()) {
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_HANDLE && error != ERROR_BAD_COMMAND && error != ERROR_GEN_FAILURE &&
            error != ERROR_DEVICE_NOT_CONNECTED && error != ERROR_OPERATION_ABORTED && error != ERROR_IO_DEVICE)
            throw EComPort(CError_PurgeFailed, int32_t(error));
    }
}

void TSerialDevice::PurgeQuietly()
{
    if (!IsOpen()) return;
    PurgeComm(F->Handle, PURGE_RXCLEAR);
    F->DropUnsentOutput();
}

int32_t TSerialDevice::QueuedInput()
{
    if (!IsOpen()) throw EComPort(CError_ClearComFailed, ERROR_INVALID_HANDLE);
    COMSTAT status{};
    if (!TakeStatus(F->Handle, F->Counters, status)) throw EComPort(CError_ClearComFailed, LastError());
    return int32_t(status.cbInQue);
}

TComErrors TSerialDevice::LineErrors()
{
    if (!IsOpen()) throw EComPort(CError_ClearComFailed, ERROR_INVALID_HANDLE);
    COMSTAT status{};
    if (!TakeStatus(F->Handle, F->Counters, status)) throw EComPort(CError_ClearComFailed, LastError());
    return TakeErrors(F->Counters);
}

TComSignals TSerialDevice::ModemSignals()
{
    if (!IsOpen()) throw EComPort(CError_ModemStatFailed, ERROR_INVALID_HANDLE);
    DWORD lines = 0;
    if (!GetCommModemStatus(F->Handle, &lines)) {
        const DWORD error = GetLastError();
        if (NotOffered(error)) return 0; // no modem lines: none is active
        throw EComPort(CError_ModemStatFailed, int32_t(error));
    }
    TComSignals active = 0;
    if (lines & MS_CTS_ON) active |= ComSignalBit(csCTS);
    if (lines & MS_DSR_ON) active |= ComSignalBit(csDSR);
    if (lines & MS_RING_ON) active |= ComSignalBit(csRing);
    if (lines & MS_RLSD_ON) active |= ComSignalBit(csRLSD);
    return active;
}

// ---- the event watch ----
//
// Whether arrivals are reported is the device's event mask itself
// (SetCommMask from HoldReceived), so no state is shared between the
// threads here.

namespace {
constexpr DWORD WatchedAlways = EV_ERR | EV_BREAK;
constexpr DWORD WatchedAll = WatchedAlways | EV_RXCHAR;
} // namespace

TDeviceWatch::TDeviceWatch(TSerialDevice& port, bool received) : F(std::make_unique<TPlatform>())
{
    F->Device = port.Platform().Handle;
    F->Received = received;
    F->Wait = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    F->Stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!F->Wait || !F->Stop || !SetCommMask(F->Device, received ? WatchedAll : WatchedAlways)) {
        const int32_t error = LastError();
        if (F->Wait) CloseHandle(F->Wait);
        if (F->Stop) CloseHandle(F->Stop);
        throw EComPort(CError_WaitFailed, error);
    }
}

TDeviceWatch::~TDeviceWatch()
{
    CloseHandle(F->Wait);
    CloseHandle(F->Stop);
}

TDeviceWatch::TResult TDeviceWatch::Wait(TEvents& events)
{
    events = TEvents();
    HANDLE device = F->Device;
    HANDLE stop = F->Stop;
    for (;;) {
        if (!F->Watching) {
            // The device has gone: only a stop is left to wait for.
            WaitForSingleObject(stop, INFINITE);
            return wrStopped;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = F->Wait;
        ResetEvent(overlapped.hEvent);
        DWORD mask = 0;
        bool done = WaitCommEvent(device, &mask, &overlapped) != FALSE;
        bool failed = false;
        if (!done) {
            if (GetLastError() != ERROR_IO_PENDING) {
                failed = true;
            } else {
                HANDLE both[2] = {stop, overlapped.hEvent};
                const DWORD which = WaitForMultipleObjects(2, both, FALSE, INFINITE);
                if (which != WAIT_OBJECT_0 + 1) {
                    // Stopped (or the wait itself is broken): the pending
                    // wait is cancelled and must end before its OVERLAPPED goes.
                    CancelIoEx(device, &overlapped);
                    DWORD ignored = 0;
                    GetOverlappedResult(device, &overlapped, &ignored, TRUE);
                    return wrStopped;
                }
                DWORD ignored = 0;
                failed = !GetOverlappedResult(device, &overlapped, &ignored, FALSE);
            }
        }
        if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return wrStopped;
        if (failed) {
            // A wait that fails on a device that still answers a query of
            // its settings was ended by the driver without an event (Wine
            // does so at once for line errors alone on a pseudo-terminal).
            // Such a device is not gone, but cannot be watched; a hang-up
            // shows in its transfers. Otherwise the device is gone
            // (unplugged, or the pseudo-terminal behind Wine hung up).
            // Either way it is not watched again.
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            F->Watching = false;
            if (GetCommState(device, &dcb)) continue;
            events.Gone = true;
            return wrEvents;
        }
        if (mask & (EV_ERR | EV_BREAK)) {
            // A line error is not a hang-up: a device that is still there
            // answers a query of its settings (which, unlike the status
            // query, takes no error flags away from LineErrors).
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            if (!GetCommState(device, &dcb)) {
                events.Gone = true;
                F->Watching = false;
                return wrEvents;
            }
        }
        DWORD watched = 0;
        // A mask changed while the wait was pending (a hold released) ends
        // it with no events: bytes that came during the hold may be queued,
        // and the report is checked against the queue by whoever handles it.
        if ((mask & EV_RXCHAR) || (mask == 0 && GetCommMask(device, &watched) && (watched & EV_RXCHAR)))
            events.Received = true;
        if (events.Received || events.Gone) return wrEvents;
    }
}

void TDeviceWatch::HoldReceived(bool hold)
{
    // Each mask change is a driver call (under Wine two round trips to its
    // server), made twice per exchange: only where arrivals are watched.
    if (!F->Received) return;
    // Changing the mask ends a pending wait with no events; the watch then
    // looks at the queue itself when arrivals are watched again.
    SetCommMask(F->Device, hold ? WatchedAlways : WatchedAll);
}

void TDeviceWatch::Stop() { SetEvent(F->Stop); }
