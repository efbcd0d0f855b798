// The "Setup" dialog and its lists bound to a port's settings.
#include "tests/support/guidriver.h"

#include "app/setupdialog.h"
#include "app/qtext.h"
#include "serial/portnames.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
// A PC with on-board UARTs ttyS0, ttyS1 and ttyS9, a USB adapter and one
// virtual port.
class SetupDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FSysfs.isValid() && FPorts.isValid());
        for (const char* device : {"ttyS0", "ttyS1", "ttyS9", "ttyUSB0"})
            ASSERT_TRUE(QDir(FSysfs.path()).mkpath(QString(device) + "/device"));
        // The virtual port leads to a terminal, as the simulated unit's does:
        // only terminals are offered.
        FTerminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(FTerminal, 0);
        ASSERT_EQ(grantpt(FTerminal), 0);
        ASSERT_EQ(unlockpt(FTerminal), 0);
        ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(ptsname(FTerminal)), FPorts.path() + "/unit"));
        SetSerialSysfsRoot(StdStr(FSysfs.path()));
        SetVirtualPortDir(StdStr(FPorts.path()));
        FPort.SetPort("COM2");
    }
    void TearDown() override
    {
        SetSerialSysfsRoot("");
        SetVirtualPortDir("");
        if (FTerminal >= 0) close(FTerminal);
    }

    std::string VirtualPort() const { return StdStr(FPorts.path()) + "/unit"; }

    // Runs EditPortSettings, letting the test look at and answer the dialog.
    bool Edit(uint8_t mask, const std::function<void(TComSetupFrm&)>& answer)
    {
        TGuiDriver driver([&](QWidget* window) {
            auto* dialog = qobject_cast<TComSetupFrm*>(window);
            ASSERT_NE(dialog, nullptr) << Describe(window);
            answer(*dialog);
        });
        return EditPortSettings(FPort, mask);
    }

    QTemporaryDir FSysfs;
    QTemporaryDir FPorts;
    int FTerminal = -1; // the master side of the virtual port's terminal
    TComPort FPort;
};

void Pick(TComComboBox* combo, const std::string& text)
{
    const int index = combo->findText(QStr(text), Qt::MatchFixedString);
    ASSERT_GE(index, 0) << text;
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

std::vector<std::string> Entries(const TComComboBox* combo)
{
    std::vector<std::string> entries;
    for (int i = 0; i < combo->count(); ++i) entries.push_back(StdStr(combo->itemText(i)));
    return entries;
}

TEST_F(SetupDialog, HasItsSixListsInOrder)
{
    TComSetupFrm dialog;
    EXPECT_EQ(dialog.windowTitle(), "Setup");
    EXPECT_EQ(dialog.size(), QSize(231, 216));
    EXPECT_EQ(dialog.GroupBox1->title(), " Settings ");
    const QLabel* labels[] = {dialog.Label1, dialog.Label2, dialog.Label3, dialog.Label4, dialog.Label5, dialog.Label6};
    const char* captions[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
    const TComComboBox* combos[] = {dialog.Combo1, dialog.Combo2, dialog.Combo3,
                                    dialog.Combo4, dialog.Combo5, dialog.Combo6};
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(labels[row]->text(), captions[row]);
        EXPECT_EQ(combos[row]->ComProperty(), TComProperty(cpPort + row));
        EXPECT_FALSE(combos[row]->isEditable());
        // Unbound lists select their first entry.
        EXPECT_EQ(combos[row]->currentIndex(), 0);
    }
    EXPECT_EQ(Entries(dialog.Combo1), (std::vector<std::string>{VirtualPort(), "COM1", "COM10", "COM2", "ttyUSB0"}));
    EXPECT_EQ(dialog.Combo2->count(), 16);
    EXPECT_EQ(Entries(dialog.Combo3), (std::vector<std::string>{"5", "6", "7", "8"}));
    EXPECT_EQ(Entries(dialog.Combo4), (std::vector<std::string>{"1", "1.5", "2"}));
    EXPECT_EQ(Entries(dialog.Combo5), (std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(Entries(dialog.Combo6), (std::vector<std::string>{"Hardware", "Software", "None", "Custom"}));
    EXPECT_EQ(dialog.Button1->text(), "OK");
    EXPECT_TRUE(dialog.Button1->isDefault());
    EXPECT_EQ(dialog.Button2->text(), "Cancel");

    // The order Tab takes: the focus chain without the widgets Tab skips.
    std::vector<QWidget*> order{dialog.Combo1};
    for (QWidget* next = dialog.Combo1->nextInFocusChain(); next != dialog.Combo1 && order.size() < 8;
         next = next->nextInFocusChain())
        if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled()) order.push_back(next);
    EXPECT_EQ(order, (std::vector<QWidget*>{dialog.Combo1, dialog.Combo2, dialog.Combo3, dialog.Combo4, dialog.Combo5,
                                            dialog.Combo6, dialog.Button1, dialog.Button2}));
}

TEST_F(SetupDialog, ShowsTheCurrentSettingsAndEnablesByMask)
{
    FPort.SetBaudRate(br19200);
    FPort.SetDataBits(dbSeven);
    FPort.SetStopBits(sbTwoStopBits);
    FPort.Parity().SetBits(prEven);
    FPort.FlowControl().SetFlowControl(fcNone);
    const bool accepted = Edit(31, [](TComSetupFrm& dialog) {
        EXPECT_EQ(dialog.Combo1->Text(), "COM2");
        EXPECT_EQ(dialog.Combo2->Text(), "19200");
        EXPECT_EQ(dialog.Combo3->Text(), "7");
        EXPECT_EQ(dialog.Combo4->Text(), "2");
        EXPECT_EQ(dialog.Combo5->Text(), "Even");
        EXPECT_EQ(dialog.Combo6->Text(), "None");
        for (TComComboBox* combo : {dialog.Combo1, dialog.Combo2, dialog.Combo3, dialog.Combo4, dialog.Combo5})
            EXPECT_TRUE(combo->isEnabled());
        EXPECT_FALSE(dialog.Combo6->isEnabled());
        dialog.Button2->click();
    });
    EXPECT_FALSE(accepted);
}

TEST_F(SetupDialog, OkWritesThePicksOfTheEditableListsOnly)
{
    FPort.FlowControl().SetFlowControl(fcNone);
    const bool accepted = Edit(31, [&](TComSetupFrm& dialog) {
        Pick(dialog.Combo1, VirtualPort());
        Pick(dialog.Combo2, "57600");
        Pick(dialog.Combo3, "7");
        Pick(dialog.Combo4, "1.5");
        Pick(dialog.Combo5, "Odd");
        Pick(dialog.Combo6, "Hardware"); // shown, but not editable under mask 31
        dialog.Button1->click();
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(FPort.Port(), VirtualPort());
    EXPECT_EQ(FPort.BaudRate(), br57600);
    EXPECT_EQ(FPort.DataBits(), dbSeven);
    EXPECT_EQ(FPort.StopBits(), sbOne5StopBits);
    EXPECT_EQ(FPort.Parity().Bits(), prOdd);
    EXPECT_EQ(FPort.FlowControl().FlowControl(), fcNone);
}

TEST_F(SetupDialog, CancelAndTheCloseBoxLeaveThePortAsItWas)
{
    for (bool closeBox : {false, true}) {
        const bool accepted = Edit(63, [&](TComSetupFrm& dialog) {
            Pick(dialog.Combo1, "ttyUSB0");
            Pick(dialog.Combo2, "115200");
            Pick(dialog.Combo6, "Software");
            if (closeBox)
                Later([&dialog] { dialog.close(); });
            else
                dialog.Button2->click();
        });
        EXPECT_FALSE(accepted);
        EXPECT_EQ(FPort.Port(), "COM2");
        EXPECT_EQ(FPort.BaudRate(), br9600);
        EXPECT_EQ(FPort.FlowControl().FlowControl(), fcNone);
    }
}

TEST_F(SetupDialog, APortNameThatIsNotListedIsKeptWhenNoPortIsPicked)
{
    FPort.SetPort("/dev/ttyACM7");
    const bool accepted = Edit(31, [](TComSetupFrm& dialog) {
        EXPECT_EQ(dialog.Combo1->currentIndex(), -1);
        EXPECT_EQ(dialog.Combo1->Text(), "");
        Pick(dialog.Combo2, "38400");
        dialog.Button1->click();
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(FPort.Port(), "/dev/ttyACM7");
    EXPECT_EQ(FPort.BaudRate(), br38400);
}

// An adapter that was unplugged since the last run: the field names the
// port OK keeps, marked, instead of standing blank.
TEST_F(SetupDialog, APortNameThatIsNotListedIsShownMarkedAsNotPresent)
{
    FPort.SetPort("/dev/ttyACM7");
    Edit(31, [](TComSetupFrm& dialog) {
        EXPECT_EQ(dialog.Combo1->placeholderText().toStdString(), "/dev/ttyACM7 (not present)");
        Pick(dialog.Combo2, "38400"); // other lists show no such mark
        EXPECT_TRUE(dialog.Combo2->placeholderText().isEmpty());
        dialog.Button1->click();
    });
    EXPECT_EQ(FPort.Port(), "/dev/ttyACM7");
}

TEST_F(SetupDialog, ANameInOtherLetterCaseShowsTheEntryAndIsWrittenAsListed)
{
    FPort.SetPort("com1");
    const bool accepted = Edit(31, [](TComSetupFrm& dialog) {
        EXPECT_EQ(dialog.Combo1->Text(), "COM1");
        dialog.Button1->click();
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(FPort.Port(), "COM1");
}

TEST_F(SetupDialog, CustomRatesAndCustomFlowControlShowAsCustom)
{
    FPort.SetCustomBaudRate(31250);
    FPort.SetBaudRate(brCustom);
    FPort.FlowControl().SetFlowControl(fcNone);
    FPort.FlowControl().SetXonXoffIn(true); // no longer any of the three named kinds
    ASSERT_EQ(FPort.FlowControl().FlowControl(), fcCustom);
    const bool accepted = Edit(31, [](TComSetupFrm& dialog) {
        EXPECT_EQ(dialog.Combo2->Text(), "Custom");
        EXPECT_EQ(dialog.Combo6->Text(), "Custom");
        Pick(dialog.Combo2, "Custom");
        dialog.Button1->click();
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(FPort.BaudRate(), brCustom);
    EXPECT_EQ(FPort.CustomBaudRate(), 31250);
    EXPECT_TRUE(FPort.FlowControl().XonXoffIn());
}

TEST_F(SetupDialog, WithAnEmptyMaskOkWritesNothing)
{
    const bool accepted = Edit(0, [](TComSetupFrm& dialog) {
        Pick(dialog.Combo1, "ttyUSB0");
        Pick(dialog.Combo2, "300");
        for (TComComboBox* combo :
             {dialog.Combo1, dialog.Combo2, dialog.Combo3, dialog.Combo4, dialog.Combo5, dialog.Combo6})
            EXPECT_FALSE(combo->isEnabled());
        dialog.Button1->click();
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(FPort.Port(), "COM2");
    EXPECT_EQ(FPort.BaudRate(), br9600);
}

TEST_F(SetupDialog, AnUnreadablePortListFailsBeforeTheDialogShows)
{
    SetSerialSysfsRoot(StdStr(FSysfs.path()) + "/missing");
    TGuiDriver driver;
    try {
        EditPortSettings(FPort, 31);
        FAIL() << "no failure";
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), CError_RegError);
    }
    EXPECT_TRUE(driver.Log().empty());
    EXPECT_EQ(FPort.Port(), "COM2");
}

TEST_F(SetupDialog, AListForgetsADestroyedPortAndSelectsItsFirstEntry)
{
    TComComboBox combo;
    combo.SetComProperty(cpParity);
    auto* port = new TComPort;
    port->Parity().SetBits(prMark);
    combo.SetComPort(port);
    EXPECT_EQ(combo.Text(), "Mark");
    delete port;
    EXPECT_EQ(combo.ComPort(), nullptr);
    EXPECT_EQ(combo.Text(), "None");
    combo.ApplyToPort(); // nothing bound: nothing to write, no crash
}

TEST_F(SetupDialog, TextSelectsIgnoringCaseAndAutoApplyWritesAtOnce)
{
    TComComboBox combo;
    combo.SetComProperty(cpStopBits);
    combo.SetComPort(&FPort);
    combo.SetText("1.5");
    EXPECT_EQ(combo.Text(), "1.5");
    combo.SetText("three"); // no such entry: the selection stays
    EXPECT_EQ(combo.Text(), "1.5");

    TComComboBox parity;
    parity.SetComProperty(cpParity);
    parity.SetComPort(&FPort);
    parity.SetText("space");
    EXPECT_EQ(parity.Text(), "Space");
    EXPECT_EQ(FPort.Parity().Bits(), prNone); // a pick is only remembered
    parity.SetAutoApply(true);
    Pick(&parity, "Mark");
    EXPECT_EQ(FPort.Parity().Bits(), prMark);
}
}
