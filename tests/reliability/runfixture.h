// What the reliability tests share: the demo firmware as a stored record,
// a simulated unit on a pseudo-terminal, the windowless programming run
// against it, and checks on the unit's transcript and on the port after
// the run.
#pragma once

#include "flashrun.h"
#include "oldfirmware.h"

#include "tools/unitsim/unitsim.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// The demo firmware of a Morvex 4620 (unit type 3) and its record,
// enciphered with the program's pass phrase.
const std::vector<uint8_t>& DemoPlainImage();
const TStoredImage& DemoRecord();

// The label of the last frame the host sent, "" when there is none.
std::string LastHostFrame(const std::vector<TSimFrame>& frames);
size_t CountFrames(const std::vector<TSimFrame>& frames, const std::string& label);
std::string DescribeTail(const std::vector<TSimFrame>& frames, size_t count = 40);

class RunTest : public ::testing::Test {
protected:
    void TearDown() override;

    // A Morvex 4620 holding OldFirmware(), whose firmware answers its user
    // command and whose boot loader answers the first connect word.
    static TUnitSimOptions UnitOptions();
    void StartUnit(const TUnitSimOptions& options);
    TRunOutcome RunOnce(const TStoredImage& record = DemoRecord());

    // Waits until the unit has handled everything the host sent before it
    // closed the port (nothing is left to arrive once it has seen the close).
    void WaitForHostToLetGo();
    // The port is closed: no descriptor of ours is open on it, and, while
    // the line still exists, we can open it exclusively ourselves.
    void ExpectPortReleased();
    // The unit's flash area holds the demo image / was never touched.
    void ExpectAreaProgrammed();
    void ExpectFlashUntouched();

    std::unique_ptr<TUnitSim> Unit;
    std::string PortPath;
    int UnitDescriptors = 0; // the simulated unit's own descriptors on its terminal
    std::unique_ptr<TFlashRun> Run;
};
