// Whole programming runs through the real main window: the simulated unit
// listed as a port, the operator's answers scripted per run, and the checks
// that a run left the window idle and the port closed.
#pragma once

#include "tests/support/guidriver.h"
#include "tests/support/scriptedoperator.h"

#include "app/mainwindow.h"
#include "tools/unitsim/unitsim.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class GuiRunTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A Morvex 4620 holding other firmware, listed as "Morvex-4620" in the
    // setup dialog; its boot loader answers the first connect word.
    static TUnitSimOptions UnitOptions();
    void StartUnit(TUnitSimOptions options);
    // Presses Start, answers every window as told and waits until the run is
    // over (the last box answered, the window idle). The port picked in the
    // settings is always the simulated unit's, as they list it. Returns the
    // windows the run showed, as the driver describes them.
    std::vector<std::string> RunToEnd(TOperatorAnswers answers);

    void ExpectIdle();
    // No descriptor of ours is open on the unit's terminal beyond the
    // unit's own, and the port can be opened exclusively again.
    void ExpectPortReleased();

    QTemporaryDir PortDir;
    std::unique_ptr<TStoredImage> Record;
    std::unique_ptr<TfrmUserFlash> Form;
    std::unique_ptr<TUnitSim> Unit;
    std::string PortPath;
    int UnitDescriptors = 0;
    std::vector<std::string> Titles; // of the windows of the last run
};
