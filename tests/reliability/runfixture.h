// What the reliability tests share: the demo firmware as a stored record,
// a simulated unit on a pseudo-terminal, the programming run against it
// answered by a scripted operator, and checks on the unit's transcript and
// on the port after the run.
#pragma once

#include "oldfirmware.h"

#include "tests/support/records.h"
#include "tests/support/scriptedoperator.h"
#include "tools/unitsim/unitsim.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

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
    // The operator for the record (once per test, as one window serves a
    // whole session): it answers Next, picks the unit's port and declines
    // the boot method unless told otherwise.
    TScriptedOperator& OperatorFor(const TStoredImage& record = DemoRecord(),
                                   const TImageDigest& digest = DemoDigest());
    // One press of Start, on the unit's current port.
    TRunOutcome RunOnce(const TStoredImage& record = DemoRecord(), const TImageDigest& digest = DemoDigest());

    // Waits until the unit has handled everything the host sent before it
    // closed the port (nothing is left to arrive once it has seen the close).
    void WaitForHostToLetGo();
    // The port is closed: no descriptor of ours is open on it, and, while
    // the line still exists, we can open it exclusively ourselves.
    void ExpectPortReleased();
    // Nothing went wrong between the steps: the keep-alive reported no failure.
    void ExpectNoKeepAliveFailure();
    // The unit's flash area holds the demo image / was never touched.
    void ExpectAreaProgrammed();
    void ExpectFlashUntouched();

    std::unique_ptr<TUnitSim> Unit;
    std::string PortPath;
    int UnitDescriptors = 0; // the simulated unit's own descriptors on its terminal
    std::unique_ptr<TScriptedOperator> Operator;
};
