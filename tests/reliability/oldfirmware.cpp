#include "oldfirmware.h"

#include "tools/unitsim/unitsim.h"

std::vector<uint8_t> OldFirmware()
{
    std::vector<uint8_t> old(kSimFlashBytes);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 3);
    return old;
}
