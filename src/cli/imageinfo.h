// --info: what the embedded image is for, from the record's plain fields.
// The image bytes stay enciphered and the pass phrase is not built.
#pragma once

#include "image/storedimage.h"

#include <string>

// The model's display name for a unit type, "unknown" beyond the catalogue.
std::string UnitModelName(uint32_t unitType);

// Name, unit type, model and size, one per line.
std::string ImageInfoText(const TStoredImage& image);
