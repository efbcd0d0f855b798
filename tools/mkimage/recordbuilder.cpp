#include "tools/mkimage/recordbuilder.h"

#include "core/exceptions.h"
#include "core/format.h"
#include "image/encryptedstream.h"

#include <cctype>
#include <cstring>

std::unique_ptr<TStoredImage> BuildStoredImage(std::span<const uint8_t> plain, const std::string& name,
                                               uint32_t unitType, const std::string& passPhrase)
{
    if (name.size() > sizeof(TStoredImage::Name))
        throw Exception(Format("Image name longer than %d characters: %s", static_cast<int>(sizeof(TStoredImage::Name)),
                               name.c_str()));
    if (plain.size() > MaxImageSize)
        throw Exception(Format("Image of %d bytes does not fit the record (at most %d bytes)",
                               static_cast<int>(plain.size()), static_cast<int>(MaxImageSize)));

    auto record = std::make_unique<TStoredImage>(); // zero name tail and filler
    std::memcpy(record->Name, name.data(), name.size());
    record->UnitType = unitType;
    record->Length = static_cast<uint32_t>(plain.size());

    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(2);
    stream.Write(plain.data(), static_cast<int64_t>(plain.size()));
    stream.Encrypt(passPhrase.data(), static_cast<uint32_t>(passPhrase.size()));
    if (!plain.empty()) std::memcpy(record->Data, stream.Memory(), plain.size());
    return record;
}

TBuiltRecord BuildStoredImageWithDigest(std::span<const uint8_t> plain, const std::string& name, uint32_t unitType,
                                        const std::string& passPhrase)
{
    TBuiltRecord built{BuildStoredImage(plain, name, unitType, passPhrase), {}};
    built.Digest = ComputeImageDigest(plain.data(), plain.size());
    return built;
}

std::string PassPhraseFromHex(const std::string& hex)
{
    constexpr size_t kPassPhraseBytes = 8;
    if (hex.size() != 2 * kPassPhraseBytes)
        throw EConvertError("Pass phrase must be 16 hexadecimal digits, not " + std::to_string(hex.size()));
    std::string phrase;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair = hex.substr(i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
            throw EConvertError("Pass phrase is not hexadecimal");
        phrase += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return phrase;
}
