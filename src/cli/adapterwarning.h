// A warning before the run about an adapter that will make it slow: an FTDI
// adapter whose driver holds received bytes back for its latency timer
// (16 ms unless changed) makes every read-back block wait for that timer.
#pragma once

#include "image/storedimage.h"
#include "serial/portinfo.h"

#include <cstdint>
#include <string>

struct TReadBack {
    uint32_t Bytes = 0;  // what the verify step reads
    uint32_t Blocks = 0; // in how many READ round trips
};

// What the run with this image reads back.
TReadBack ReadBackOf(const TStoredImage& image);

// The timer above which the warning is given, in ms.
inline constexpr int LatencyTimerWarnAboveMs = 2;

// The warning for the port, "" when there is none: which adapter, how much
// longer the read-back can take (each round trip waits once or twice for
// the timer), and where the timer is set.
std::string LatencyWarning(const std::string& port, const TSerialPortFacts& facts, const TReadBack& readBack);
