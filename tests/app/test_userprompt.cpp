// The modeless operator prompt and its cancel rules.
#include "tests/support/guidriver.h"

#include "app/flashapp.h"
#include "app/userpromptdialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {
TEST(UserPrompt, ShowsModelessWithItsTextAndIcon)
{
    TUserPromptDialog prompt;
    TdlgUserPrompt& dialog = *prompt.Dialog();
    EXPECT_EQ(dialog.windowTitle(), "User Intervention Required...");
    EXPECT_EQ(dialog.size(), QSize(313, 109));
    EXPECT_EQ(dialog.Image1->pixmap().deviceIndependentSize().toSize(), QSize(32, 32));
    EXPECT_FALSE(prompt.PromptCancelled()); // never shown

    prompt.ShowPrompt("Reset the Unit");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(dialog.lblDialogText->text(), "Reset the Unit");
    EXPECT_FALSE(prompt.PromptCancelled());
    prompt.HidePrompt();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(UserPrompt, CancelIsReportedByTheNextQueryAndTheWindowStays)
{
    TUserPromptDialog prompt;
    prompt.ShowPrompt("Reset the Unit");
    prompt.Dialog()->CancelBtn->click();
    EXPECT_TRUE(prompt.Dialog()->isVisible());
    EXPECT_TRUE(prompt.PromptCancelled());
    EXPECT_TRUE(prompt.PromptCancelled()); // asking again does not forget it
    prompt.HidePrompt();
    EXPECT_TRUE(prompt.PromptCancelled()); // hidden: unchanged until the next showing
}

TEST(UserPrompt, EscAndTheCloseBoxCountAsCancelButNeverCloseIt)
{
    TUserPromptDialog prompt;
    prompt.ShowPrompt("Reset the Unit");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(prompt.Dialog(), &escape);
    EXPECT_TRUE(prompt.PromptCancelled());
    EXPECT_TRUE(prompt.Dialog()->isVisible());
    prompt.HidePrompt();

    prompt.ShowPrompt("Reset the Unit");
    EXPECT_FALSE(prompt.PromptCancelled());
    EXPECT_FALSE(prompt.Dialog()->close());
    EXPECT_TRUE(prompt.Dialog()->isVisible());
    EXPECT_TRUE(prompt.PromptCancelled());
    prompt.HidePrompt();
}

TEST(UserPrompt, ShowingAgainAfterACancelledWaitStartsUncancelled)
{
    TUserPromptDialog prompt;
    prompt.ShowPrompt("Reset the Unit");
    prompt.Dialog()->CancelBtn->click();
    prompt.HidePrompt();
    prompt.ShowPrompt("Reset the Unit again");
    EXPECT_FALSE(prompt.PromptCancelled());
    EXPECT_EQ(prompt.Dialog()->lblDialogText->text(), "Reset the Unit again");
}

TEST(UserPrompt, ALongTextGrowsTheLabelNotTheWindow)
{
    TUserPromptDialog prompt;
    prompt.ShowPrompt(std::string(200, 'W'));
    EXPECT_EQ(prompt.Dialog()->size(), QSize(313, 109));
    EXPECT_GT(prompt.Dialog()->lblDialogText->geometry().right(), 313);
    prompt.HidePrompt();
}

TEST(UserPrompt, ShowsOverTheCentreOfTheMainWindow)
{
    QWidget form;
    form.setGeometry(300, 200, 295, 97);
    form.show();
    SetMainForm(&form);
    TUserPromptDialog prompt;
    prompt.ShowPrompt("Reset the Unit");
    const QPoint offset = prompt.Dialog()->frameGeometry().center() - form.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    prompt.HidePrompt();
    SetMainForm(nullptr);
}

TEST(UserPrompt, TheWindowPromptIsFreedWithItsOwner)
{
    auto* owner = new QObject;
    auto* prompt = new TUserPromptDialog(owner);
    QPointer<QWidget> dialog = prompt->Dialog();
    delete owner;
    EXPECT_TRUE(dialog.isNull());
}
}
