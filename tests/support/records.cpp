#include "tests/support/records.h"

#include "tools/mkimage/demofirmware.h"
#include "tools/mkimage/recordbuilder.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<TStoredImage> MakeRecord(const std::string& name, uint32_t unitType, uint32_t length)
{
    auto record = std::make_unique<TStoredImage>();
    std::memset(record.get(), 0, sizeof(TStoredImage));
    std::memcpy(record->Name, name.data(), std::min(name.size(), sizeof(record->Name)));
    record->UnitType = unitType;
    record->Length = length;
    return record;
}

const std::vector<uint8_t>& DemoPlainImage()
{
    static const std::vector<uint8_t> plain = MakeDemoFirmware();
    return plain;
}

std::unique_ptr<TStoredImage> MakeDemoRecord(uint32_t unitType, const std::string& name)
{
    return BuildStoredImage(DemoPlainImage(), name, unitType, GetPassPhrase());
}

namespace {
const TBuiltRecord& DemoBuiltRecord()
{
    static const TBuiltRecord built = BuildStoredImageWithDigest(DemoPlainImage(), "4620 V2.5", 3, GetPassPhrase());
    return built;
}
}

const TStoredImage& DemoRecord() { return *DemoBuiltRecord().Record; }

const TImageDigest& DemoDigest() { return DemoBuiltRecord().Digest; }
