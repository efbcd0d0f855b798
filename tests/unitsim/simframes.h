// Looking things up in the simulated unit's transcript.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/unitsim/unitsim.h"

inline std::vector<TSimFrame> FramesOf(const TUnitSim& sim, TSimDirection direction)
{
    std::vector<TSimFrame> frames;
    for (const TSimFrame& frame : sim.Transcript())
        if (frame.Direction == direction) frames.push_back(frame);
    return frames;
}

// Labels of the frames on the line (events left out), in order.
inline std::vector<std::string> LineLabels(const TUnitSim& sim)
{
    std::vector<std::string> labels;
    for (const TSimFrame& frame : sim.Transcript())
        if (frame.Direction != sdEvent) labels.push_back(frame.Label);
    return labels;
}

inline std::optional<TSimFrame> FindFrame(const TUnitSim& sim, const std::string& label)
{
    for (const TSimFrame& frame : sim.Transcript())
        if (frame.Label == label) return frame;
    return std::nullopt;
}

inline int CountFrames(const TUnitSim& sim, const std::string& label)
{
    int count = 0;
    for (const TSimFrame& frame : sim.Transcript()) count += frame.Label == label ? 1 : 0;
    return count;
}

inline bool HasEventContaining(const TUnitSim& sim, const std::string& text)
{
    for (const TSimFrame& frame : sim.Transcript())
        if (frame.Direction == sdEvent && frame.Label.find(text) != std::string::npos) return true;
    return false;
}
