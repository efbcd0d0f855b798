// The firmware image record compiled into the program, and its accessors.
//
// The program only reads the record. This folder's build generates it with
// tools/mkimage (enciphered image, name, unit type, length) into the
// morvex_storedimage library, which also supplies the pass
// phrase routine and the plain image's digest (image/imagedigest.h). The
// accessors take the record as an argument so that other records can be
// inspected; the program's own is the default.
#pragma once

#include "core/memstream.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Capacity of the record's image area: the largest whole-flash image of any
// unit model.
constexpr uint32_t MaxImageSize = 131072;

#pragma pack(push, 1)
struct TStoredImage {
    uint8_t Name[40];           // display name; ends at the first zero byte, if any
    uint32_t UnitType;          // unit type code
    uint32_t Length;            // count of meaningful bytes at the start of Data
    uint8_t Data[MaxImageSize]; // the enciphered image, then filler
};
#pragma pack(pop)

static_assert(sizeof(TStoredImage) == 131120);
static_assert(offsetof(TStoredImage, UnitType) == 40);
static_assert(offsetof(TStoredImage, Length) == 44);
static_assert(offsetof(TStoredImage, Data) == 48);

// The program's own record (defined by the generated morvex_storedimage).
extern const TStoredImage StoredImage;

// The name: the bytes before the first zero byte, at most 40 characters.
std::string GetImageName(const TStoredImage& image = StoredImage);
uint32_t UnitType(const TStoredImage& image = StoredImage);
// A record is valid when it has a name and a Length from 1 to MaxImageSize.
bool IsImageValid(const TStoredImage& image = StoredImage);
// Empties the stream, then writes the first Length bytes of Data into it;
// a Length beyond the capacity of Data describes no bytes and loads none.
void LoadImage(TMemoryStream& stream, const TStoredImage& image = StoredImage);

// The 8-byte key that deciphers the program's record; built at run time
// (defined by the generated morvex_storedimage). Wipe it after use.
std::string GetPassPhrase();
