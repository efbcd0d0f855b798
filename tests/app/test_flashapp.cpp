// The application-wide error box, the message boxes and the comparison's
// message boxes, on real widgets.
#include "tests/support/guidriver.h"

#include "app/comparedialogs.h"
#include "app/flashapp.h"
#include "app/messageboxes.h"
#include "core/exceptions.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <gtest/gtest.h>

namespace {
struct TErrorTextCase {
    const char* Message;
    const char* Shown;
};

class ErrorBoxTextTest : public ::testing::TestWithParam<TErrorTextCase> {};

TEST_P(ErrorBoxTextTest, AddsAFullStopOnlyAfterCharactersSortingAfterIt)
{
    EXPECT_EQ(ErrorBoxText(GetParam().Message), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ErrorBoxTextTest,
    ::testing::Values(TErrorTextCase{"Connect Cancelled by User", "Connect Cancelled by User."},
                      TErrorTextCase{"Unit Successfully Programmed!", "Unit Successfully Programmed!"},
                      TErrorTextCase{"Flash uP not defined.", "Flash uP not defined."},
                      TErrorTextCase{"Verify failed at 0800,", "Verify failed at 0800,"},
                      TErrorTextCase{"range 1-", "range 1-"}, TErrorTextCase{"path /", "path /."},
                      TErrorTextCase{"code 23", "code 23."}, TErrorTextCase{"Programming (", "Programming ("},
                      TErrorTextCase{"", ""}, TErrorTextCase{"Gr\xFC\xDF", "Gr\xFC\xDF."}));

// An object whose event handler fails the way a programming run does.
class TFailingReceiver : public QObject {
public:
    int Delivered = 0;
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User) return QObject::event(event);
        ++Delivered;
        throw Exception("Connect Cancelled by User");
    }
};

class ApplicationErrors : public ::testing::Test {
protected:
    void SetUp() override { SetApplicationTitle("4620 V2.5"); }
    void TearDown() override { SetApplicationTitle(ProgramTitle); }
};

TEST_F(ApplicationErrors, AFailureInAnEventHandlerIsShownInAnErrorBoxAndTheProgramGoesOn)
{
    TGuiDriver driver([](QWidget* box) { Answer(box, QMessageBox::Ok); });
    TFailingReceiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    ASSERT_TRUE(WaitUntil([&] { return driver.Log().size() == 1 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(driver.Log()[0], "error:Connect Cancelled by User.");
    EXPECT_EQ(driver.Titles()[0], "4620 V2.5");

    // The loop is still alive and delivers the next failure the same way.
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    ASSERT_TRUE(WaitUntil([&] { return driver.Log().size() == 2 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(receiver.Delivered, 2);
}

TEST_F(ApplicationErrors, AFailureShownOutsideTheEventDeliveryGetsTheSameBox)
{
    TGuiDriver driver([](QWidget* box) { Answer(box, QMessageBox::Ok); });
    ShowException(Exception("No Reply Within Time Out Period"));
    ASSERT_EQ(driver.Log().size(), 1u);
    EXPECT_EQ(driver.Log()[0], "error:No Reply Within Time Out Period.");
    EXPECT_EQ(driver.Titles()[0], "4620 V2.5");
}

TEST_F(ApplicationErrors, LinesEndingInACarriageReturnAloneAreShownAsLines)
{
    TGuiDriver driver([](QWidget* box) { Answer(box, QMessageBox::Ok); });
    ShowErrorBox("Verify failed\rAddress 0800\r\nFile 12 Flash 34");
    ASSERT_EQ(driver.Log().size(), 1u);
    EXPECT_EQ(driver.Log()[0], "error:Verify failed\nAddress 0800\nFile 12 Flash 34");
}

TEST_F(ApplicationErrors, ConfirmationIsTrueOnlyForYes)
{
    int button = QMessageBox::Yes;
    TGuiDriver driver([&](QWidget* box) { Answer(box, button); });
    EXPECT_TRUE(AskConfirmation("Try Boot Method?"));
    button = QMessageBox::No;
    EXPECT_FALSE(AskConfirmation("Try Boot Method?"));
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"question:Try Boot Method?", "question:Try Boot Method?"}));
}

TEST(CompareDialogs, TheButtonsChosenComeBackAsResults)
{
    TMessageBoxDialogs dialogs;
    int button = QMessageBox::No;
    TGuiDriver driver([&](QWidget* box) { Answer(box, button); });
    EXPECT_EQ(dialogs.MessageDlg("Difference at 0810", mtWarning, mbYesNoCancel), mrNo);
    button = QMessageBox::Yes;
    EXPECT_EQ(dialogs.MessageDlg("Difference at 0811", mtWarning, mbYesNoCancel), mrYes);
    button = QMessageBox::Cancel;
    EXPECT_EQ(dialogs.MessageDlg("Difference at 0812", mtWarning, mbYesNoCancel), mrCancel);
    button = QMessageBox::Ok;
    EXPECT_EQ(dialogs.MessageDlg("3 discrepencies", mtInformation, mbOK), mrOk);
    EXPECT_EQ(driver.Log(), (std::vector<std::string>{"warning:Difference at 0810", "warning:Difference at 0811",
                                                      "warning:Difference at 0812", "info:3 discrepencies"}));
}

TEST(CompareDialogs, ClosingTheBoxCountsAsCancel)
{
    TMessageBoxDialogs dialogs;
    TGuiDriver driver([](QWidget* box) { Later([box] { box->close(); }); });
    EXPECT_EQ(dialogs.MessageDlg("Difference at 0810", mtWarning, mbYesNoCancel), mrCancel);
}
}
