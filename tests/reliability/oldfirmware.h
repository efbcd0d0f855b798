// What the unit's flash holds before a run: firmware other than the demo
// image, so that any byte a run changed, or failed to change, shows.
#pragma once

#include <cstdint>
#include <vector>

std::vector<uint8_t> OldFirmware();
