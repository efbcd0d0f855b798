// Builds a stored image record from a plain image: the image enciphered in
// Cipher Feedback mode under the pass phrase, with name, unit type and
// length filled in and zero filler after the image. Used by the build-time
// generator and by tests that need records of their own.
#pragma once

#include "image/imagedigest.h"
#include "image/storedimage.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

// Raises Exception when the name is longer than the record's name field or
// the image does not fit the record.
std::unique_ptr<TStoredImage> BuildStoredImage(std::span<const uint8_t> plain, const std::string& name,
                                               uint32_t unitType, const std::string& passPhrase);

// A record together with the digest of the plain image it was built from:
// what the generator stores side by side, and what a test hands to a run
// that checks the deciphered image.
struct TBuiltRecord {
    std::unique_ptr<TStoredImage> Record;
    TImageDigest Digest;
};

// As BuildStoredImage, with the plain image's digest.
TBuiltRecord BuildStoredImageWithDigest(std::span<const uint8_t> plain, const std::string& name, uint32_t unitType,
                                        const std::string& passPhrase);

// The pass phrase is given as 16 hexadecimal digits (8 bytes);
// raises EConvertError for anything else.
std::string PassPhraseFromHex(const std::string& hex);
