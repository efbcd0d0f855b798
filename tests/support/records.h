// Stored image records for the tests: plain ones to test the reading of
// name, unit type and length, and the demo firmware of a Morvex 4620
// enciphered with the program's pass phrase, for programming runs. Every
// demo record is built from the one demo image.
#pragma once

#include "image/imagedigest.h"
#include "image/storedimage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A record with the fields given and an image area of zeros.
std::unique_ptr<TStoredImage> MakeRecord(const std::string& name, uint32_t unitType, uint32_t length);
// The demo firmware under the given name and unit type, a record of its own.
std::unique_ptr<TStoredImage> MakeDemoRecord(uint32_t unitType = 3, const std::string& name = "4620 V2.5");

// The demo firmware's plain image; its record (unit type 3, "4620 V2.5"),
// built once; and the digest of the plain image, which the build stores
// beside the record.
const std::vector<uint8_t>& DemoPlainImage();
const TStoredImage& DemoRecord();
const TImageDigest& DemoDigest();
