#include "tools/unitsim/unitcatalogue.h"

#include <cmath>
#include <stdexcept>

namespace {

const char* const kModelNames[kSimModelCount] = {
    "Programmer (7100-050)", "Morvex 3810", "Morvex 3810 Display", "Morvex 4620",           "Morvex 4650",
    "Morvex 7100",           "Dexa DW4710", "Morvex 7300",         "Morvex 7310",           "Morvex 7330",
    "Morvex 4621",           "Morvex 8200", "Morvex 8400",         "Calmont CRX330/CRX340", "Morvex 3840"};

// The four digits of each model's "PF" command; type 0 answers the connect
// word itself and type 14 has no command at all.
const char* const kCommandDigits[kSimModelCount] = {nullptr, "1010", "1020", "1010", "1070", "1010", "1040", "1010",
                                                    "1030",  "1060", "1050", "1080", "1090", "1100", nullptr};

enum TFamily { fmProgrammer, fm3810, fm4620, fm7100 };

TFamily FamilyOf(uint32_t unitType)
{
    switch (unitType) {
    case 0: return fmProgrammer;
    case 1:
    case 2: return fm3810;
    case 3:
    case 4:
    case 10: return fm4620;
    default: return fm7100;
    }
}

uint32_t Checked(uint32_t unitType)
{
    if (unitType >= kSimModelCount)
        throw std::out_of_range("unit type " + std::to_string(unitType) + " is not a model (" + ModelRangeText() + ")");
    return unitType;
}

} // namespace

std::string ModelRangeText() { return "0.." + std::to_string(kSimModelCount - 1); }

std::string ModelName(uint32_t unitType) { return kModelNames[Checked(unitType)]; }

uint32_t ModelFlashStart(uint32_t unitType)
{
    switch (FamilyOf(Checked(unitType))) {
    case fmProgrammer: return 0;
    case fm3810:
    case fm4620: return 0x800;
    case fm7100: return 0x1000;
    }
    return 0;
}

uint32_t ModelFlashSize(uint32_t unitType)
{
    switch (FamilyOf(Checked(unitType))) {
    case fmProgrammer: return 0x20000;
    case fm3810: return 0x4800;
    case fm4620: return 0x7800;
    case fm7100: return 0x1F000;
    }
    return 0;
}

uint32_t ModelProgramRate(uint32_t unitType)
{
    switch (FamilyOf(Checked(unitType))) {
    case fmProgrammer: return 115200;
    case fm3810:
    case fm4620: return 19200;
    case fm7100: return 57600;
    }
    return 0;
}

std::vector<uint8_t> ModelUserCommand(uint32_t unitType)
{
    unitType = Checked(unitType);
    if (unitType == 0) return {'S', 'w', 'I', 't', 'C', 'h', 'U', 'p'};
    const char* digits = kCommandDigits[unitType];
    if (digits == nullptr) return {};
    std::vector<uint8_t> command{0x02, 'P', 'F'};
    for (const char* d = digits; *d != '\0'; ++d) command.push_back(static_cast<uint8_t>(*d));
    command.push_back(0x03);
    return command;
}

uint8_t ExpectedDivisor(uint8_t reply, uint32_t currentRate, uint32_t newRate)
{
    if (newRate == 0) return 0;
    const long double quotient = static_cast<long double>(currentRate) / static_cast<long double>(newRate);
    const float product = static_cast<float>(quotient * reply);
    return static_cast<uint8_t>(static_cast<uint32_t>(std::trunc(product)) & 0xFFu);
}
