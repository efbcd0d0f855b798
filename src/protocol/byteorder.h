// Byte-order reversal, to put address and length fields on the line most
// significant byte first.
#pragma once

#include <cstdint>

uint16_t SwapWord(uint16_t w);
uint32_t SwapLong(uint32_t l);
