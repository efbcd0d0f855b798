// Stored image records for the tests: plain ones to test the windows'
// reading of name, unit type and length, and the enciphered demo firmware
// for programming runs.
#pragma once

#include "image/storedimage.h"

#include <cstdint>
#include <memory>
#include <string>

// A record with the fields given and an image area of zeros.
std::unique_ptr<TStoredImage> MakeRecord(const std::string& name, uint32_t unitType, uint32_t length);
// The demo firmware for a Morvex 4620, enciphered with the program's pass
// phrase, under the given name and unit type.
std::unique_ptr<TStoredImage> MakeDemoRecord(uint32_t unitType = 3, const std::string& name = "4620 V2.5");
