// The simulated unit's own catalogue of models: what each model's firmware
// listens for, where its programmable area lies, how fast its loader talks,
// and its name.
//
// This is a second copy of facts that the programmer's catalogue
// (src/target/unitmodels) also holds, and it is kept apart on purpose: the
// simulated unit stands for hardware outside our system, so a wrong row in
// the programmer's table must meet a unit that disagrees with it, not one
// built from the same mistake. The target tests compare the two tables row
// by row, so a model added to one and not the other fails there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Unit types 0 .. kSimModelCount - 1 are models.
constexpr uint32_t kSimModelCount = 15;
constexpr uint32_t kSimFlashBytes = 0x20000;

// The range of unit types as the simulated unit's texts give it ("0..14").
std::string ModelRangeText();

// Each raises std::out_of_range for a type that is not a model.
std::string ModelName(uint32_t unitType);
uint32_t ModelFlashStart(uint32_t unitType);
uint32_t ModelFlashSize(uint32_t unitType);
uint32_t ModelProgramRate(uint32_t unitType);
std::vector<uint8_t> ModelUserCommand(uint32_t unitType); // empty for type 14

// The divisor the unit expects for a rate change: R x (current / new), in
// extended precision, rounded to single precision, truncated, low 8 bits.
uint8_t ExpectedDivisor(uint8_t reply, uint32_t currentRate, uint32_t newRate);
