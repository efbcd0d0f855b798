#include "tests/support/unitport.h"

#include "tests/support/processprobe.h"

#include <gtest/gtest.h>

void ExpectUnitPortReleased(TUnitSim& unit, const std::string& portPath, int unitDescriptors)
{
    bool hangingUp = false;
    for (const TSimFrame& frame : unit.Transcript())
        hangingUp |= frame.Direction == sdEvent && frame.Label.rfind("hang-up", 0) == 0;
    const bool hungUp = hangingUp ? unit.WaitForState(usHungUp, 30000) : unit.State() == usHungUp;
    EXPECT_EQ(hungUp, hangingUp) << "the unit's hang-up did not end";
    EXPECT_EQ(DescriptorsOpenOn(portPath), hungUp ? 0 : unitDescriptors)
        << "a descriptor is still open on " << portPath;
    // After a hang-up the pseudo-terminal is gone and its name may already
    // belong to another program's terminal.
    if (!hungUp) {
        EXPECT_EQ(OpenExclusively(portPath), "");
    }
}
