// The Win32 side of the serial device: the communications handle, the line
// errors ClearCommError has reported, the time-outs the driver holds, and
// the event watch's own events.
#pragma once

#include "serial/deadline.h"
#include "serial/serialdevice.h"

#include <cstdint>
// Without the printer and other APIs, whose macros (SetPort among them)
// would rename members of the port component.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Line errors counted from ClearCommError's flags since the last report.
struct TLineErrorCounts {
    uint32_t Frame = 0, Parity = 0, Overrun = 0, Break = 0, BufferOverrun = 0;
};

class TSerialDevice::TPlatform {
public:
    HANDLE Handle = INVALID_HANDLE_VALUE;
    HANDLE TransferEvent = nullptr; // signals the end of each overlapped read or write
    TLineErrorCounts Counters;
    int32_t BitRate = 9600;
    int32_t CharBits = 10;   // bits on the line per character, for drain estimates
    bool OutputFlow = false; // RTS/CTS or XON/XOFF may hold the output
    // What the driver holds: every SetCommTimeouts is a driver round trip
    // (under Wine one to its server), so it is made only for a change.
    TTimeoutValues DriverTimeouts;
    uint64_t TimeoutChanges = 0;              // SetCommTimeouts calls since the open
    TDeadline LineQuietAt = TDeadline::Now(); // when the last write's bytes have left the UART

    void UseTimeouts(const TTimeoutValues& timeouts); // code 8
    // Waits until the driver has sent what a write handed it, or the
    // deadline; `sent` loses what was dropped at the deadline. Returns how
    // often bytes were still queued.
    uint64_t DrainOutput(int32_t& sent, const TDeadline& deadline);
    bool DropUnsentOutput();
    // How long `chars` characters take on the line.
    int64_t LineMs(int32_t chars) const;
};

class TDeviceWatch::TPlatform {
public:
    HANDLE Device = INVALID_HANDLE_VALUE;
    HANDLE Wait = nullptr; // the pending WaitCommEvent's own event
    HANDLE Stop = nullptr;
    bool Received = true; // arrivals of bytes are watched
    bool Watching = true;
};
