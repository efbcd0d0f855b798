// The simulated unit's port after a run, as every reliability test checks
// it: no descriptor of ours left on it beyond the unit's own, and, while the
// line still exists, free for an exclusive open.
#pragma once

#include "tools/unitsim/unitsim.h"

#include <string>

// unitDescriptors: the unit's own descriptors on its terminal. A unit that
// began to hang up finishes it on its own thread (the line closed, its link
// removed, then its state), possibly after the program saw the line go and
// ended the run: the check waits for that end rather than take the state of
// the moment, which would send it to a port that is already gone.
void ExpectUnitPortReleased(TUnitSim& unit, const std::string& portPath, int unitDescriptors);
