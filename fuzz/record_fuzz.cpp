// Stored image records with arbitrary contents. The input fills the record
// from its start (name, unit type, length, data) and is padded with zeros
// or cut to the record's size. The record is a heap block of exactly its own
// size, so a read past Data is caught by the address sanitizer.
#include "core/memstream.h"
#include "fuzzcheck.h"
#include "image/storedimage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto record = std::make_unique<TStoredImage>();
    uint8_t* bytes = reinterpret_cast<uint8_t*>(record.get());
    std::memset(bytes, 0, sizeof(TStoredImage));
    std::memcpy(bytes, data, std::min(size, sizeof(TStoredImage)));

    uint32_t unitType, length;
    std::memcpy(&unitType, bytes + 40, 4);
    std::memcpy(&length, bytes + 44, 4);

    // The name: the bytes before the first zero, never beyond the 40 bytes.
    const std::string name = GetImageName(*record);
    const void* firstZero = std::memchr(bytes, 0, 40);
    const size_t nameLength = firstZero ? static_cast<size_t>(static_cast<const uint8_t*>(firstZero) - bytes) : 40;
    FUZZ_CHECK(name.size() <= 40);
    FUZZ_CHECK(name.size() == nameLength);
    FUZZ_CHECK(std::memcmp(name.data(), bytes, nameLength) == 0);

    FUZZ_CHECK(UnitType(*record) == unitType);

    // Valid exactly when there is a name and a length that fits Data.
    const bool loadable = length <= MaxImageSize;
    FUZZ_CHECK(IsImageValid(*record) == (nameLength > 0 && length > 0 && loadable));

    // Loading replaces whatever the stream held with the first Length bytes.
    TMemoryStream stream;
    const char kOld[] = "bytes of an earlier image";
    stream.Write(kOld, sizeof kOld);
    LoadImage(stream, *record);
    const int64_t expectedSize = loadable ? length : 0;
    FUZZ_CHECK(stream.Size() == expectedSize);
    FUZZ_CHECK(stream.Position() == expectedSize);
    if (expectedSize > 0) FUZZ_CHECK(std::memcmp(stream.Memory(), record->Data, length) == 0);
    return 0;
}
