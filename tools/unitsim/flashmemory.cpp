#include "tools/unitsim/flashmemory.h"

#include <algorithm>
#include <stdexcept>

#include "tools/unitsim/unitsim.h"

TFlashMemory::TFlashMemory() : FBytes(kSimFlashBytes, 0xFF) {}

bool TFlashMemory::Inside(uint32_t address, uint64_t count)
{
    return static_cast<uint64_t>(address) + count <= kSimFlashBytes;
}

bool TFlashMemory::Erase(uint32_t address, uint32_t count)
{
    if (!Inside(address, count)) return false;
    std::lock_guard<std::mutex> lock(FMutex);
    std::fill_n(FBytes.begin() + address, count, uint8_t{0xFF});
    return true;
}

bool TFlashMemory::Program(uint32_t address, const std::vector<uint8_t>& bytes)
{
    if (!Inside(address, bytes.size())) return false;
    std::lock_guard<std::mutex> lock(FMutex);
    for (size_t i = 0; i < bytes.size(); ++i) FBytes[address + i] &= bytes[i];
    return true;
}

std::vector<uint8_t> TFlashMemory::Read(uint32_t address, uint32_t count) const
{
    std::vector<uint8_t> bytes(count, 0xFF);
    std::lock_guard<std::mutex> lock(FMutex);
    for (uint32_t i = 0; i < count && static_cast<uint64_t>(address) + i < kSimFlashBytes; ++i)
        bytes[i] = FBytes[address + i];
    return bytes;
}

std::vector<uint8_t> TFlashMemory::Contents() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FBytes;
}

void TFlashMemory::Load(uint32_t address, const std::vector<uint8_t>& bytes)
{
    if (!Inside(address, bytes.size())) throw std::out_of_range("flash contents beyond 128 KB");
    std::lock_guard<std::mutex> lock(FMutex);
    std::copy(bytes.begin(), bytes.end(), FBytes.begin() + address);
}
