#include "protocol/byteorder.h"

uint16_t SwapWord(uint16_t w) { return static_cast<uint16_t>((w >> 8) | (w << 8)); }

uint32_t SwapLong(uint32_t l) { return (l >> 24) | ((l >> 8) & 0x0000FF00u) | ((l << 8) & 0x00FF0000u) | (l << 24); }
