// The digest of a plain firmware image, stored beside the enciphered record.
//
// Deciphering under the wrong pass phrase, or from damaged stored bytes,
// gives garbage without any error: Cipher Feedback has no integrity of its
// own, and only some unit models check a checksum over the image. The
// generator therefore stores the digest of the plain image with the record,
// and the programming run compares the deciphered image against it before
// anything is sent to the unit.
#pragma once

#include "core/memstream.h"

#include <array>
#include <cstddef>
#include <cstdint>

// SHA-256 of the plain image.
using TImageDigest = std::array<uint8_t, 32>;

TImageDigest ComputeImageDigest(const uint8_t* data, size_t size);

// True when the stream's whole contents, whatever its position, have the
// digest. The stream is hashed where it lies: no copy of the plain image is
// made.
bool MatchesImageDigest(TMemoryStream& plain, const TImageDigest& digest);

// The digest of the program's own plain image (defined by the generated
// morvex_storedimage, beside StoredImage).
extern const TImageDigest StoredImageDigest;
