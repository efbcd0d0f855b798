// Which of the chosen faults strike which frame: counts the frames of each
// phase and hands out what applies to the next one.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tools/unitsim/unitsim.h"

struct TFaultAction {
    bool HangUp = false;
    bool Silence = false;
    bool Short = false;
    std::optional<std::vector<uint8_t>> Wrong; // empty vector: the kind's default garbling of WrongByte
    int WrongByte = 0;                         // as TUnitFault::SpoiledByte
    uint32_t NoiseBytes = 0;
    int DelayMs = 0;
    bool WrongStart = false;
    std::optional<uint32_t> StartValue;
    bool WrongSize = false;
    std::optional<uint32_t> SizeValue;
    std::string Names; // the faults applied, for the transcript

    bool Any() const { return !Names.empty(); }
};

class TFaultPlan {
public:
    explicit TFaultPlan(std::vector<TUnitFault> faults);

    // Counts one frame of the phase and returns the faults that strike it.
    TFaultAction Take(TFramePhase phase);
    // Starts counting every phase from 0 again (a new run).
    void Restart();

private:
    static constexpr size_t kPhaseCount = fpReset + 1;
    std::vector<TUnitFault> FFaults;
    std::array<int, kPhaseCount> FCounts{};
};

// The noise the unit puts on the line before a reply under fkNoise.
std::vector<uint8_t> NoiseBytes(uint32_t count);
