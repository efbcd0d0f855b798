// What the reliability tests share: the demo firmware as a stored record,
// a simulated unit on a pseudo-terminal, the programming run against it
// answered by a scripted operator, and checks on the unit's transcript and
// on the port after the run.
#pragma once

#include "tests/support/records.h"
#include "tests/support/scriptedoperator.h"
#include "tests/support/testunit.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

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

    // The unit's port is released, and the run's target, if it kept one,
    // is no longer connected.
    void ExpectPortReleased();
    // Nothing went wrong between the steps: the keep-alive reported no failure.
    void ExpectNoKeepAliveFailure();

    std::unique_ptr<TTestUnit> Unit;
    std::unique_ptr<TScriptedOperator> Operator;
};
