#include "tools/unitsim/faultplan.h"

namespace {

constexpr uint32_t kDefaultNoiseBytes = 3;
constexpr uint32_t kDefaultSlowMs = 1500;

} // namespace

TFaultPlan::TFaultPlan(std::vector<TUnitFault> faults) : FFaults(std::move(faults)) {}

TFaultAction TFaultPlan::Take(TFramePhase phase)
{
    const int index = FCounts[phase]++;
    TFaultAction action;
    for (const TUnitFault& fault : FFaults) {
        if (fault.Phase != phase || (fault.Index >= 0 && fault.Index != index)) continue;
        if (!action.Names.empty()) action.Names += ", ";
        action.Names += FaultToText(fault);
        switch (fault.Kind) {
        case fkSilence: action.Silence = true; break;
        case fkWrongReply:
            action.Wrong = fault.Bytes;
            action.WrongByte = fault.SpoiledByte;
            break;
        case fkShortReply: action.Short = true; break;
        case fkNoise: action.NoiseBytes += fault.Value.value_or(kDefaultNoiseBytes); break;
        case fkSlowReply: action.DelayMs += static_cast<int>(fault.Value.value_or(kDefaultSlowMs)); break;
        case fkHangUp: action.HangUp = true; break;
        case fkWrongStart:
            action.WrongStart = true;
            action.StartValue = fault.Value;
            break;
        case fkWrongSize:
            action.WrongSize = true;
            action.SizeValue = fault.Value;
            break;
        }
    }
    return action;
}

void TFaultPlan::Restart() { FCounts.fill(0); }

std::vector<uint8_t> NoiseBytes(uint32_t count)
{
    // Bytes that are no status byte, letter or digit the protocol uses.
    static const uint8_t kPattern[] = {0xE7, 0x18, 0xBD, 0x7E, 0xC3, 0x81};
    std::vector<uint8_t> noise(count);
    for (uint32_t i = 0; i < count; ++i) noise[i] = kPattern[i % sizeof kPattern];
    return noise;
}
