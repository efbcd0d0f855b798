// The demo firmware embedded by default: a whole-flash image for a Morvex
// 4620 (H8/300H, 32 KB flash) whose programmable area from 0x800 ends in a
// valid checksum for the simulated unit's seed. The bytes are made up but
// laid out like firmware (vector table, boot stub, code, texts, tables,
// erased flash), and the same on every build.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint32_t kDemoImageSize = 32768;
constexpr uint32_t kDemoAreaStart = 0x800;

std::vector<uint8_t> MakeDemoFirmware();
