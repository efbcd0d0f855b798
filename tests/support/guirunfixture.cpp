#include "tests/support/guirunfixture.h"

#include "tests/support/records.h"

#include "app/setupdialog.h"
#include "app/flashapp.h"
#include "app/qtext.h"
#include "app/startup.h"
#include "app/userpromptdialog.h"
#include "app/wizard.h"
#include "core/userprompt.h"
#include "serial/portnames.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

namespace {
const char* const LinkName = "Morvex-4620";

bool EndsARun(const std::string& entry) { return entry.rfind("error:", 0) == 0 || entry.rfind("info:", 0) == 0; }
}

void GuiRunTest::SetUp()
{
    ASSERT_TRUE(PortDir.isValid());
    SetVirtualPortDir(StdStr(PortDir.path()));
    Record = MakeDemoRecord();
    Form = CreateForms(*Record);
    Form->show();
}

void GuiRunTest::TearDown()
{
    Form.reset();
    Unit.reset();
    SetVirtualPortDir("");
    SetApplicationTitle(ProgramTitle);
}

TUnitSimOptions GuiRunTest::UnitOptions()
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.AutoResetAfterConnectWords = 0;
    return options;
}

void GuiRunTest::StartUnit(TUnitSimOptions options)
{
    Unit.reset();
    options.LinkPath = UnitLink();
    Unit = std::make_unique<TTestUnit>(options);
    Unit->LoadFlash(0, OldFirmware());
}

std::string GuiRunTest::UnitLink() const { return StdStr(PortDir.path()) + "/" + LinkName; }

std::vector<std::string> GuiRunTest::RunToEnd(TOperatorAnswers answers)
{
    answers.PortPath = UnitLink();
    TGuiDriver driver([&](QWidget* window) {
        const std::string seen = Describe(window);
        if (window == frmConnectWiz) {
            (answers.WizardNext ? frmConnectWiz->btnNext : frmConnectWiz->btnCancel)->click();
        } else if (auto* setup = qobject_cast<TComSetupFrm*>(window)) {
            const int link = setup->Combo1->findText(QStr(answers.PortPath));
            if (!answers.SettingsOk || link < 0) {
                EXPECT_TRUE(!answers.SettingsOk || link >= 0) << "the simulated unit's port is not listed";
                setup->Button2->click();
                return;
            }
            setup->Combo1->setCurrentIndex(link);
            emit setup->Combo1->activated(link);
            setup->Button1->click();
        } else if (seen.rfind("question:", 0) == 0) {
            Answer(window, answers.BootYes ? QMessageBox::Yes : QMessageBox::No);
        } else if (auto* prompt = qobject_cast<TdlgUserPrompt*>(window)) {
            if (answers.CancelPrompt) prompt->CancelBtn->click();
        } else {
            Answer(window, QMessageBox::Ok);
        }
    });
    const bool ended = PressStartAndWaitForEnd(
        *Form, driver, [](const std::vector<std::string>& log) { return !log.empty() && EndsARun(log.back()); });
    EXPECT_TRUE(ended) << ::testing::PrintToString(driver.Log());
    Titles = driver.Titles();
    return driver.Log();
}

void GuiRunTest::ExpectIdle() { ExpectMainWindowIdle(*Form); }
