// The unit's 128 KB of flash. Erasing sets bytes to 0xFF; programming can
// only clear bits, as on the real part, so programming over unerased bytes
// leaves the AND of old and new contents. Safe to read from other threads
// while the unit works on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class TFlashMemory {
public:
    TFlashMemory();

    static bool Inside(uint32_t address, uint64_t count);
    // Both return false, changing nothing, for a range outside the flash.
    bool Erase(uint32_t address, uint32_t count);
    bool Program(uint32_t address, const std::vector<uint8_t>& bytes);
    // Bytes beyond the flash read as 0xFF.
    std::vector<uint8_t> Read(uint32_t address, uint32_t count) const;
    std::vector<uint8_t> Contents() const;
    // Overwrites contents directly (old firmware in the unit); raises
    // std::out_of_range for a range outside the flash.
    void Load(uint32_t address, const std::vector<uint8_t>& bytes);

private:
    mutable std::mutex FMutex;
    std::vector<uint8_t> FBytes;
};
