// Whole programming runs through the real main window: the simulated unit
// listed as a port, the operator's answers scripted per run, and the checks
// that a run left the window idle and the port closed.
#pragma once

#include "tests/support/guidriver.h"
#include "tests/support/scriptedoperator.h"
#include "tests/support/testunit.h"

#include "app/mainwindow.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class GuiRunTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A Morvex 4620 whose boot loader answers the first connect word.
    static TUnitSimOptions UnitOptions();
    // Starts the unit holding OldFirmware(), listed as "Morvex-4620" in the
    // setup dialog (the folder of links the Port list offers).
    void StartUnit(TUnitSimOptions options = {});
    // The unit's link, as the setup dialog lists it.
    std::string UnitLink() const;
    // Presses Start, answers every window as told and waits until the run is
    // over (the last box answered, the window idle). The port picked in the
    // settings is always the simulated unit's, as they list it. Returns the
    // windows the run showed, as the driver describes them.
    std::vector<std::string> RunToEnd(TOperatorAnswers answers);

    void ExpectIdle();

    QTemporaryDir PortDir;
    std::unique_ptr<TStoredImage> Record;
    std::unique_ptr<TfrmUserFlash> Form;
    std::unique_ptr<TTestUnit> Unit;
    std::vector<std::string> Titles; // of the windows of the last run
};
