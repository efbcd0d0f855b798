// Values shared by the build-time demo firmware and the simulated unit, so
// that the demo image's checksum fits the seed the simulated unit reports.
#pragma once

#include <cstdint>

constexpr uint16_t kDemoChecksumSeed = 0x4D58;
