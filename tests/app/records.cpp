#include "records.h"

#include "tools/mkimage/demofirmware.h"
#include "tools/mkimage/recordbuilder.h"

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

std::unique_ptr<TStoredImage> MakeDemoRecord(uint32_t unitType, const std::string& name)
{
    const std::vector<uint8_t> plain = MakeDemoFirmware();
    return BuildStoredImage(plain, name, unitType, GetPassPhrase());
}
