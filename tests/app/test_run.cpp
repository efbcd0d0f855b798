// Whole programming runs against the simulated unit on a pseudo-terminal:
// the operator's answers come from the driver, the unit is our simulator.
#include "tests/support/guirunfixture.h"

#include "app/about.h"
#include "app/setupdialog.h"
#include "app/flashapp.h"
#include "app/qtext.h"
#include "app/startup.h"
#include "app/userpromptdialog.h"
#include "app/wizard.h"
#include "serial/devicechannel.h"
#include "serial/portnames.h"
#include "target/flashtarget.h"
#include "tools/mkimage/demofirmware.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace {
const std::string Success = "info:Unit Successfully Programmed!";
const std::string Cancelled = "error:Connect Cancelled by User.";

class ProgrammingRun : public GuiRunTest {
protected:
    // The operator's answers: Next, the simulated unit's port with the
    // other settings as they are, and OK to the success box.
    void AnswerStandard(QWidget* window)
    {
        if (window == frmConnectWiz) {
            frmConnectWiz->btnNext->click();
        } else if (auto* setup = qobject_cast<TComSetupFrm*>(window)) {
            const int index = setup->Combo1->findText(QStr(Unit->Terminal()));
            const int link = setup->Combo1->findText(QStr(UnitLink()));
            ASSERT_GE(link, 0) << "the simulated unit's port is not listed";
            EXPECT_LT(index, 0); // listed by its link, not by the pseudo-terminal's name
            setup->Combo1->setCurrentIndex(link);
            emit setup->Combo1->activated(link);
            setup->Button1->click();
        } else if (Describe(window) == Success) {
            FBusyAtSuccess = Form->Busy();
            FBarAtSuccess = Form->ProgressBar->value();
            Answer(window, QMessageBox::Ok);
        } else {
            Answer(window, QMessageBox::Ok);
        }
    }

    // Presses Start and waits until the run has ended with the entry.
    void RunUntil(TGuiDriver& driver, const std::string& lastEntry)
    {
        const size_t before = driver.Log().size();
        ASSERT_TRUE(PressStartAndWaitForEnd(*Form, driver, [&](const std::vector<std::string>& log) {
            return log.size() > before && log.back() == lastEntry;
        })) << ::testing::PrintToString(driver.Log());
    }

    bool FBusyAtSuccess = false;
    int FBarAtSuccess = -1;
};

TEST_F(ProgrammingRun, StartNextPortOkProgramsTheUnit)
{
    StartUnit();
    TGuiDriver driver([&](QWidget* window) { AnswerStandard(window); });
    RunUntil(driver, Success);
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"wizard", "setup", Success}));
    EXPECT_EQ(driver.Titles().back(), "4620 V2.5");
    Unit->ExpectDemoAreaProgrammed();
    // The box is shown before the window is reset: still busy, bar as the
    // last step left it.
    EXPECT_TRUE(FBusyAtSuccess);
    EXPECT_GT(FBarAtSuccess, 0);
    ExpectIdle();
    EXPECT_EQ(Form->Flash(), nullptr);
    // The port the operator chose is offered again by the next run.
    EXPECT_EQ(Form->ConnectInfo().ConnectPort->Port(), UnitLink());
    EXPECT_FALSE(Form->ConnectInfo().ConnectPort->Connected());
}

TEST_F(ProgrammingRun, TheUnitCanBeProgrammedAgainByASecondRun)
{
    StartUnit();
    TGuiDriver driver([&](QWidget* window) { AnswerStandard(window); });
    RunUntil(driver, Success);
    Unit->LoadFlash(kDemoAreaStart, std::vector<uint8_t>(64, 0x00)); // spoil the start of the area
    RunUntil(driver, Success);
    EXPECT_EQ(driver.Count(Success), 2);
    Unit->ExpectDemoAreaProgrammed();
    ExpectIdle();
}

TEST_F(ProgrammingRun, WhenTheFirmwareIgnoresTheCommandTheBootMethodProgramsAfterAReset)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    std::string question;
    TGuiDriver driver([&](QWidget* window) {
        const std::string seen = Describe(window);
        if (seen.rfind("question:", 0) == 0) {
            question = seen;
            Answer(window, QMessageBox::Yes);
        } else if (seen == "prompt:Reset the Unit") {
            Unit->OperatorReset();
        } else {
            AnswerStandard(window);
        }
    });
    RunUntil(driver, Success);
    ASSERT_EQ(driver.Log().size(), 5u) << ::testing::PrintToString(driver.Log());
    EXPECT_EQ(driver.Log()[3], "prompt:Reset the Unit");
    EXPECT_EQ(question.rfind("question:User Connect Method Failed (", 0), 0u) << question;
    EXPECT_NE(question.find("). Try Boot Method?"), std::string::npos) << question;
    EXPECT_GT(question.size(), std::string("question:User Connect Method Failed (). Try Boot Method?").size());
    Unit->ExpectDemoAreaProgrammed();
    ExpectIdle();
    // The prompt has been taken down with its target.
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<TdlgUserPrompt*>(window) && window->isVisible());
}

TEST_F(ProgrammingRun, AnsweringNoToTheBootMethodCancels)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    TGuiDriver driver([&](QWidget* window) {
        if (Describe(window).rfind("question:", 0) == 0)
            Answer(window, QMessageBox::No);
        else
            AnswerStandard(window);
    });
    RunUntil(driver, Cancelled);
    ASSERT_EQ(driver.Log().size(), 4u);
    EXPECT_EQ(driver.Log()[2].rfind("question:User Connect Method Failed (", 0), 0u);
    Unit->ExpectFlashUntouched();
    ExpectIdle();
}

TEST_F(ProgrammingRun, WhenTheBootMethodFailsTooItsOwnMessageIsShownAndTheTargetStaysUntilTheNextRun)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    TGuiDriver driver([&](QWidget* window) {
        if (Describe(window).rfind("question:", 0) == 0)
            Answer(window, QMessageBox::Yes);
        else if (!qobject_cast<TdlgUserPrompt*>(window)) // nobody resets the unit
            AnswerStandard(window);
    });
    ASSERT_TRUE(PressStartAndWaitForEnd(*Form, driver, [](const std::vector<std::string>& log) {
        return log.size() == 5u;
    })) << ::testing::PrintToString(driver.Log());
    const std::string& shown = driver.Log()[4];
    EXPECT_EQ(shown.rfind("error:", 0), 0u) << shown;
    EXPECT_EQ(shown.find("User Connect Method Failed"), std::string::npos) << shown;
    EXPECT_NE(shown, Cancelled);
    ExpectIdle();
    ASSERT_NE(Form->Flash(), nullptr);
    // The target's prompt is the window's, which the run's operator made.
    EXPECT_NE(dynamic_cast<TUserPromptDialog*>(Form->Flash()->ConnectInfo().Prompt), nullptr);
}

TEST_F(ProgrammingRun, CancellingTheResetPromptCancels)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    TGuiDriver driver([&](QWidget* window) {
        if (Describe(window).rfind("question:", 0) == 0)
            Answer(window, QMessageBox::Yes);
        else if (auto* prompt = qobject_cast<TdlgUserPrompt*>(window))
            prompt->CancelBtn->click();
        else
            AnswerStandard(window);
    });
    RunUntil(driver, Cancelled);
    EXPECT_EQ(driver.Log()[3], "prompt:Reset the Unit");
    EXPECT_EQ(driver.Log().size(), 5u);
    ExpectIdle();
    Unit->ExpectFlashUntouched();
}

TEST_F(ProgrammingRun, AFailureAfterConnectingClosesThePortFreesTheTargetAndShowsItsMessage)
{
    TUnitSimOptions options;
    options.Faults.push_back(TUnitFault{fkSilence, fpErase, 0, {}, std::nullopt});
    StartUnit(options);
    TGuiDriver driver([&](QWidget* window) { AnswerStandard(window); });
    ASSERT_TRUE(PressStartAndWaitForEnd(*Form, driver, [](const std::vector<std::string>& log) {
        return log.size() == 3u;
    })) << ::testing::PrintToString(driver.Log());
    EXPECT_EQ(driver.Log()[2].rfind("error:", 0), 0u) << driver.Log()[2];
    EXPECT_NE(driver.Log()[2], Cancelled);
    EXPECT_EQ(Form->Flash(), nullptr);
    ExpectIdle();
    // The unit goes back to its firmware only when the host closes the port.
    EXPECT_TRUE(Unit->WaitForState(usFirmware, 10000)) << UnitStateName(Unit->State());
}

// A failed run is shown where the run was started: nothing unwinds out of
// the Start handler through the event delivery of the toolkit.
TEST_F(ProgrammingRun, AFailedRunIsShownWithoutLeavingTheStartHandlerByAnException)
{
    StartUnit();
    TGuiDriver driver([&](QWidget* window) {
        if (window == frmConnectWiz)
            frmConnectWiz->btnCancel->click();
        else
            Answer(window, QMessageBox::Ok);
    });
    EXPECT_NO_THROW(Form->btnStartClick());
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"wizard", Cancelled}));
    ExpectIdle();
}

// The About box and the refusal to close, opened while the unit is being
// programmed, stay open while the run goes on underneath to its end: their
// own event loops must not hold the run between blocks.
TEST_F(ProgrammingRun, WindowsOpenedDuringProgrammingDoNotHoldTheRun)
{
    StartUnit();
    bool opened = false;
    bool aboutOpenAtSuccess = false;
    bool refusalOpenAtSuccess = false;
    QPointer<QWidget> refusal;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (opened || Form->lblProgress->text() != "Programming FLASH...") return;
        opened = true;
        HandleSysCommand(SC_ABOUT);
        Form->close();
    });
    watch.start(5);
    TGuiDriver driver([&](QWidget* window) {
        const std::string seen = Describe(window);
        if (seen == "about") return; // left open
        if (seen.find("Programming in Progress") != std::string::npos) {
            refusal = window; // left open
            return;
        }
        if (seen == Success) {
            aboutOpenAtSuccess = frmAbout->isVisible();
            refusalOpenAtSuccess = refusal && refusal->isVisible();
            frmAbout->btnOk->click();
            if (refusal) Answer(refusal, QMessageBox::Ok);
        }
        AnswerStandard(window);
    });
    ASSERT_TRUE(PressStartAndWaitForEnd(*Form, driver, [](const std::vector<std::string>& log) {
        return std::count(log.begin(), log.end(), Success) == 1;
    })) << ::testing::PrintToString(driver.Log());
    EXPECT_TRUE(opened);
    EXPECT_TRUE(aboutOpenAtSuccess);
    EXPECT_TRUE(refusalOpenAtSuccess);
    Unit->ExpectDemoAreaProgrammed();
    ExpectIdle();
    EXPECT_TRUE(Form->isVisible()); // the close was refused
}
}
