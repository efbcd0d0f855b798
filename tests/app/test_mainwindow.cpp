// The main window from start-up to the end of runs that stop before the
// unit is reached: title, icon, invalid images, the wizard pages, the busy
// rules, and every way the operator can stop a run.
#include "tests/support/guidriver.h"
#include "tests/support/records.h"

#include "app/about.h"
#include "app/artwork.h"
#include "app/setupdialog.h"
#include "app/flashapp.h"
#include "app/startup.h"
#include "app/wizard.h"
#include "serial/devicechannel.h"
#include "serial/portnames.h"
#include "target/flashtarget.h"
#include "target/unitmodels.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class MainWindow : public ::testing::Test {
protected:
    // The port list holds no virtual ports but those of this test.
    void SetUp() override { SetVirtualPortDir(FPortDir.path().toStdString()); }
    void TearDown() override
    {
        FForm.reset();
        SetVirtualPortDir("");
        SetApplicationTitle(ProgramTitle);
    }

    TfrmUserFlash& Start(uint32_t unitType, const std::string& name = "Test Image", uint32_t length = 32768)
    {
        FRecord = MakeRecord(name, unitType, length);
        FForm = CreateForms(*FRecord);
        return *FForm;
    }

    // Presses Start and runs the event loop until the run is over and its
    // last box has been answered.
    void RunToEnd(TGuiDriver& driver, size_t expectedWindows)
    {
        ASSERT_TRUE(PressStartAndWaitForEnd(*FForm, driver, [&](const std::vector<std::string>& log) {
            return log.size() >= expectedWindows;
        })) << ::testing::PrintToString(driver.Log());
    }

    void ExpectIdle() { ExpectMainWindowIdle(*FForm); }

    QTemporaryDir FPortDir;
    std::unique_ptr<TStoredImage> FRecord;
    std::unique_ptr<TfrmUserFlash> FForm;
};

// A window is centred before it is shown, when its frame (and, for a
// dialog, its final size) is not known yet; it is centred again once shown.
TEST_F(MainWindow, WindowsAreCentredOnTheScreenAgainOnceShown)
{
    QWidget window;
    window.resize(100, 60);
    CentreOnScreen(&window);
    window.resize(300, 200); // what the frame or a late layout adds
    window.show();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return (window.frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center())
                       .manhattanLength() <= 2;
        },
        5000));
    TfrmUserFlash& form = Start(3);
    form.show();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return (form.frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center())
                       .manhattanLength() <= 2;
        },
        5000));
}

TEST_F(MainWindow, OpensTitledWithTheImageNameAndIdle)
{
    TfrmUserFlash& form = Start(3, "4620 V2.5");
    EXPECT_EQ(form.windowTitle(), "4620 V2.5");
    EXPECT_EQ(ApplicationTitle(), "4620 V2.5");
    EXPECT_EQ(form.size(), QSize(295, 97));
    EXPECT_EQ(form.btnStart->text(), "Start");
    EXPECT_EQ(form.ProgressBar->minimum(), 0);
    EXPECT_EQ(form.ProgressBar->maximum(), 100);
    EXPECT_FALSE(form.ProgressBar->isTextVisible()); // a bar without a percentage
    EXPECT_EQ(form.Flash(), nullptr);
    ASSERT_NE(form.ConnectInfo().ConnectPort, nullptr);
    ASSERT_NE(form.ConnectInfo().ProgramPort, nullptr);
    EXPECT_NE(form.ConnectInfo().ConnectPort, form.ConnectInfo().ProgramPort);
    EXPECT_EQ(form.ConnectInfo().Prompt, nullptr);
    EXPECT_FALSE(form.ConnectInfo().ConnectPort->Connected());
    ExpectIdle();
}

struct TIconCase {
    uint32_t UnitType;
    const char* Icon; // null: the application icon
};

class IconChoice : public MainWindow, public ::testing::WithParamInterface<TIconCase> {};

TEST_P(IconChoice, FollowsTheUnitType)
{
    TfrmUserFlash& form = Start(GetParam().UnitType);
    const QImage shown = form.ImageRI->pixmap().toImage();
    const QImage expected = GetParam().Icon ? ArtworkPixmap(GetParam().Icon, QSize(32, 32)).toImage()
                                            : QApplication::windowIcon().pixmap(32, 32).toImage();
    ASSERT_FALSE(expected.isNull());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(shown.deviceIndependentSize().toSize(), QSize(32, 32));
}

INSTANTIATE_TEST_SUITE_P(UnitTypes, IconChoice,
                         ::testing::Values(TIconCase{0, nullptr}, TIconCase{1, "icon3810"}, TIconCase{2, nullptr},
                                           TIconCase{3, "icon4620"}, TIconCase{4, nullptr}, TIconCase{5, "icon7100"},
                                           TIconCase{6, "icon7100"}, TIconCase{7, "icon7300"}, TIconCase{8, "icon7300"},
                                           TIconCase{9, "icon7300"}, TIconCase{10, "icon4621"},
                                           TIconCase{11, "icon8200"}, TIconCase{12, "icon8400"},
                                           TIconCase{13, "icon7300"}, TIconCase{14, "icon3840"}, TIconCase{15, nullptr},
                                           TIconCase{99, nullptr}));

// The sizes the window has always shown them at.
TEST_F(MainWindow, TheEightIconsAndFivePicturesAreDrawnAtTheirSizes)
{
    TfrmUserFlash& form = Start(3);
    const auto& icons = form.Artwork().Icons();
    EXPECT_EQ(icons.size(), 8u);
    for (const auto& [name, icon] : icons) {
        EXPECT_EQ(icon.deviceIndependentSize().toSize(), QSize(32, 32)) << name;
        EXPECT_FALSE(icon.toImage().allGray()) << name; // drawn in colour, not left blank
    }
    EXPECT_NE(icons.at("icon3810").toImage(), icons.at("icon4620").toImage());
    const std::map<std::string, QSize> sizes = {{"cable4620", QSize(200, 186)},
                                                {"cable7300", QSize(200, 176)},
                                                {"cable3810", QSize(200, 148)},
                                                {"cable8200", QSize(200, 76)},
                                                {"cable3840", QSize(123, 200)}};
    const auto& pictures = form.Artwork().Pictures();
    EXPECT_EQ(pictures.size(), sizes.size());
    for (const auto& [name, size] : sizes) {
        const QPixmap* picture = form.Artwork().Picture(name);
        ASSERT_NE(picture, nullptr) << name;
        EXPECT_EQ(picture->deviceIndependentSize().toSize(), size) << name;
        EXPECT_FALSE(picture->toImage().allGray()) << name;
    }
}

struct TInvalidCase {
    const char* Name;
    uint32_t Length;
    const char* Title;
};

class InvalidImage : public MainWindow, public ::testing::WithParamInterface<TInvalidCase> {};

TEST_P(InvalidImage, SaysSoAndKeepsStartDisabled)
{
    TGuiDriver driver([](QWidget* box) { Answer(box, QMessageBox::Ok); });
    TfrmUserFlash& form = Start(3, GetParam().Name, GetParam().Length);
    EXPECT_EQ(driver.Log(), std::vector<std::string>{"error:No Valid FLASH Image Present!"});
    EXPECT_EQ(form.windowTitle().toStdString(), GetParam().Title);
    EXPECT_FALSE(form.btnStart->isEnabled());
    form.btnStart->click(); // a disabled button starts nothing
    ASSERT_TRUE(WaitUntil([] { return true; }));
    EXPECT_EQ(driver.Log().size(), 1u);
    EXPECT_TRUE(form.close()); // not busy: closing is allowed
}

INSTANTIATE_TEST_SUITE_P(Records, InvalidImage,
                         ::testing::Values(TInvalidCase{"", 32768, "Morvex Classic Series Flash Programmer"},
                                           TInvalidCase{"4620 V2.5", 0, "4620 V2.5"},
                                           TInvalidCase{"4620 V2.5", MaxImageSize + 1, "4620 V2.5"}));

const std::vector<std::string> CableLines = {"",
                                             "Cable Information:",
                                             "  Crossed DB9 Female - DB9 Female",
                                             "  RS232 Serial Cable",
                                             "    Pin      Pin",
                                             "     2  ----  3",
                                             "     3  ----  2",
                                             "     5  ----  5"};

std::vector<std::string> withCable(std::vector<std::string> lines)
{
    lines.insert(lines.end(), CableLines.begin(), CableLines.end());
    return lines;
}

TEST_F(MainWindow, WizardPagesOfTheThreeInstructionSets)
{
    TfrmUserFlash& form = Start(3);
    const auto arrow = form.WizardPage(1);
    ASSERT_TRUE(arrow);
    EXPECT_EQ(arrow->Lines,
              withCable({"Instructions:", " 1 Connect a serial cable to serial port of",
                         "    the Morvex 3810 as shown (by red arrow)",
                         " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"}));
    EXPECT_EQ(arrow->Picture.toImage(), form.Artwork().Picture("cable3810")->toImage());

    const auto plain = form.WizardPage(4);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Lines,
              withCable({"Instructions:", " 1 Connect a serial cable to serial port of", "    the Morvex 4650 as shown",
                         " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"}));
    EXPECT_EQ(plain->Picture.toImage(), form.Artwork().Picture("cable4620")->toImage());

    const auto serial2 = form.WizardPage(13);
    ASSERT_TRUE(serial2);
    EXPECT_EQ(serial2->Lines,
              withCable({"Instructions:", " 1 Connect a serial cable to SERIAL 2 of the",
                         "    Calmont CRX330/CRX340 as shown", " 2 Connect the other end to the PC serial port",
                         " 3 Click the 'Next' button"}));
    EXPECT_EQ(serial2->Picture.toImage(), form.Artwork().Picture("cable7300")->toImage());
    for (const auto& page : {arrow, plain, serial2}) EXPECT_EQ(page->Lines.size(), 13u);
}

TEST_F(MainWindow, EachUnitTypeGetsItsPictureOrNoWizard)
{
    TfrmUserFlash& form = Start(3);
    const std::map<uint32_t, const char*> pictures = {
        {1, "cable3810"},  {3, "cable4620"},  {4, "cable4620"}, {10, "cable4620"}, {5, "cable7300"},
        {6, "cable7300"},  {7, "cable7300"},  {8, "cable7300"}, {9, "cable7300"},  {12, "cable7300"},
        {13, "cable7300"}, {11, "cable8200"}, {14, "cable3840"}};
    // Every unit type and the first beyond the table.
    for (uint32_t unitType = 0; unitType <= UnitModelNames.size(); ++unitType) {
        const auto page = form.WizardPage(unitType);
        const auto picture = pictures.find(unitType);
        if (picture == pictures.end()) {
            EXPECT_FALSE(page) << unitType;
            continue;
        }
        ASSERT_TRUE(page) << unitType;
        EXPECT_EQ(page->Picture.toImage(), form.Artwork().Picture(picture->second)->toImage()) << unitType;
        EXPECT_EQ(page->Lines[2].find("$UNIT"), std::string::npos);
    }
    EXPECT_EQ(form.WizardPage(11)->Lines[2], "    the Morvex 8200 as shown");
    EXPECT_EQ(form.WizardPage(14)->Lines[2], "    the Morvex 3840 as shown (by red arrow)");
    EXPECT_EQ(form.WizardPage(8)->Lines[2], "    Morvex 7310 as shown");
}

std::vector<std::string> wizardLabels()
{
    std::vector<std::string> texts;
    for (QLabel* label : frmConnectWiz->PanelText->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        texts.push_back(label->text().toStdString());
    return texts;
}

TEST_F(MainWindow, CancellingTheWizardEndsTheRunIdleAndWithoutATarget)
{
    TfrmUserFlash& form = Start(1);
    std::vector<std::vector<std::string>> shown;
    bool busyDuringRun = false;
    TGuiDriver driver([&](QWidget* window) {
        if (window == frmConnectWiz) {
            shown.push_back(wizardLabels());
            busyDuringRun = form.Busy() && !form.btnStart->isEnabled() && QApplication::overrideCursor() &&
                            QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            frmConnectWiz->btnCancel->click();
        } else {
            Answer(window, QMessageBox::Ok);
        }
    });
    RunToEnd(driver, 2);
    RunToEnd(driver, 4); // a second run shows the same page again
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"wizard", "error:Connect Cancelled by User.", "wizard",
                                                      "error:Connect Cancelled by User."}));
    EXPECT_EQ(driver.Titles()[1], "Test Image");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], form.WizardPage(1)->Lines);
    EXPECT_EQ(shown[1], shown[0]); // 13 labels, none left over from the first showing
    EXPECT_TRUE(busyDuringRun);
    EXPECT_EQ(form.Flash(), nullptr);
    ExpectIdle();
}

TEST_F(MainWindow, CancellingTheSetupDialogEndsTheRunWithoutATarget)
{
    TfrmUserFlash& form = Start(3);
    TGuiDriver driver([&](QWidget* window) {
        if (window == frmConnectWiz)
            frmConnectWiz->btnNext->click();
        else if (auto* setup = qobject_cast<TComSetupFrm*>(window)) {
            EXPECT_FALSE(setup->Combo6->isEnabled()); // mask 31
            EXPECT_TRUE(setup->Combo5->isEnabled());
            setup->Button2->click();
        } else
            Answer(window, QMessageBox::Ok);
    });
    RunToEnd(driver, 3);
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"wizard", "setup", "error:Connect Cancelled by User."}));
    EXPECT_EQ(form.Flash(), nullptr);
    ExpectIdle();
}

TEST_F(MainWindow, TheAboutBoxOpensModallyDuringARun)
{
    Start(3, "4620 V2.5");
    TGuiDriver driver([&](QWidget* window) {
        if (window == frmConnectWiz) {
            Later([] { HandleSysCommand(SC_ABOUT); });
        } else if (auto* about = qobject_cast<TfrmAbout*>(window)) {
            EXPECT_TRUE(about->isModal());
            EXPECT_TRUE(FForm->Busy());
            about->btnOk->click();
            Later([] { frmConnectWiz->btnCancel->click(); });
        } else {
            Answer(window, QMessageBox::Ok);
        }
    });
    RunToEnd(driver, 3);
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"wizard", "about", "error:Connect Cancelled by User."}));
    EXPECT_EQ(frmAbout->lblBinaryImage->text(), "Flash Image: 4620 V2.5");
    ExpectIdle();
}

class NoWizard : public MainWindow, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(NoWizard, TheRunBeginsWithTheSetupDialog)
{
    Start(GetParam());
    TGuiDriver driver([&](QWidget* window) {
        if (auto* setup = qobject_cast<TComSetupFrm*>(window))
            setup->Button2->click();
        else
            Answer(window, QMessageBox::Ok);
    });
    RunToEnd(driver, 2);
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"setup", "error:Connect Cancelled by User."}));
    ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(UnitTypes, NoWizard, ::testing::Values(0u, 2u, 15u));

TEST_F(MainWindow, UnitType15EndsWithFlashUpNotDefined)
{
    TfrmUserFlash& form = Start(15);
    TGuiDriver driver([&](QWidget* window) {
        if (auto* setup = qobject_cast<TComSetupFrm*>(window))
            setup->Button1->click();
        else
            Answer(window, QMessageBox::Ok);
    });
    RunToEnd(driver, 2);
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"setup", "error:Flash uP not defined."}));
    EXPECT_EQ(form.Flash(), nullptr);
    ExpectIdle();
}

TEST_F(MainWindow, ClosingAndASecondStartAreRefusedWhileBusy)
{
    TfrmUserFlash& form = Start(3);
    form.show();
    bool closed = true;
    TGuiDriver driver([&](QWidget* window) {
        if (window == frmConnectWiz) {
            Later([&] {
                form.btnStartClick(); // returns at once: a run is under way
                closed = form.close();
            });
        } else if (qobject_cast<TComSetupFrm*>(window)) {
            static_cast<TComSetupFrm*>(window)->Button2->click();
        } else {
            const bool busyBox = Describe(window).find("Programming in Progress") != std::string::npos;
            Answer(window, QMessageBox::Ok);
            if (busyBox) Later([] { frmConnectWiz->btnNext->click(); });
        }
    });
    RunToEnd(driver, 4);
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{
                                "wizard", "error:Programming in Progress. Please wait until programming is complete.",
                                "setup", "error:Connect Cancelled by User."}));
    EXPECT_FALSE(closed);
    EXPECT_TRUE(form.isVisible());
    ExpectIdle();
    // The window does not close by itself after the run, but a later close does.
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
}
}
