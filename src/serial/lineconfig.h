// The Linux line-discipline side of the serial backend: raw termios with
// any bit rate (termios2 with BOTHER), the driver's line-error counters,
// low-latency mode and the transmitter state. Kept apart because the
// kernel's termios2 header clashes with the C library's <termios.h>.
#pragma once

#include "serial/serialdevice.h"

#include <cstdint>

// A driver call that is repeated when a signal interrupts it. Returns 0 or
// the errno value.
int Ioctl(int fd, unsigned long request, void* argument);

// Puts a freshly opened device into raw, non-canonical mode at its current
// bit rate: reads return what is queued (never a line), no echo, no
// translation, no signals. Returns 0 or the errno value.
int MakeLineRaw(int fd);
// Applies the whole configuration in one driver call. Returns 0 or the
// errno value (EINVAL for a combination the line cannot carry).
int ApplyLineConfig(int fd, const TLineSettings& config);
// The bit rate the driver reports for the line. Returns 0 or the errno value.
int ReadLineBitRate(int fd, int32_t& rate);

struct TLineCounters {
    uint32_t Frame = 0, Parity = 0, Overrun = 0, Break = 0, BufferOverrun = 0;
};
enum class TProbe { Yes, No, Unsupported };
// The driver's cumulative line-error counters; Unsupported where the driver
// keeps none (pseudo-terminals). Returns 0 or the errno value.
int ReadLineCounters(int fd, TLineCounters& counters, TProbe& supported);
// The driver's low-latency mode: received bytes are handed over at once
// rather than after the driver's latency timer (USB adapters). `on` is
// Unsupported where the driver has no serial settings (pseudo-terminals).
// Returns 0 or the errno value.
int ReadLowLatency(int fd, TProbe& on);
// Switches the mode, leaving the driver's other serial settings as they are.
int WriteLowLatency(int fd, bool on);
// Whether the transmitter (shift register and FIFO) has sent everything.
// Returns 0 or the errno value; state is Unsupported where the driver
// cannot tell.
int ReadTransmitterEmpty(int fd, TProbe& state);
