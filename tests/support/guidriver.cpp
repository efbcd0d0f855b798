#include "tests/support/guidriver.h"

#include "app/about.h"
#include "app/setupdialog.h"
#include "app/mainwindow.h"
#include "app/qtext.h"
#include "app/userpromptdialog.h"
#include "app/wizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QMessageBox>
#include <gtest/gtest.h>
#include <algorithm>

TGuiDriver::TGuiDriver(THandler handler) : FHandler(std::move(handler))
{
    connect(&FTimer, &QTimer::timeout, this, &TGuiDriver::Poll);
    FTimer.start(5);
    FAge.start();
}

int TGuiDriver::Count(const std::string& entry) const { return int(std::count(FLog.begin(), FLog.end(), entry)); }

void TGuiDriver::GiveUp()
{
    if (!FGivenUp) ADD_FAILURE() << "windows still open after a minute; seen: " << ::testing::PrintToString(FLog);
    FGivenUp = true;
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->done(QDialog::Rejected);
}

void TGuiDriver::Poll()
{
    if (FAge.hasExpired(60000)) return GiveUp();
    std::erase_if(FShowing, [](const QPointer<QWidget>& window) { return !window || !window->isVisible(); });
    std::vector<QWidget*> candidates;
    if (QWidget* modal = QApplication::activeModalWidget()) candidates.push_back(modal);
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<TdlgUserPrompt*>(window) && window->isVisible()) candidates.push_back(window);
    for (QWidget* window : candidates) {
        const bool known = std::any_of(FShowing.begin(), FShowing.end(),
                                       [&](const QPointer<QWidget>& seen) { return seen == window; });
        if (!known) Notice(window);
    }
}

void TGuiDriver::Notice(QWidget* window)
{
    FShowing.emplace_back(window);
    FLog.push_back(Describe(window));
    FTitles.push_back(StdStr(window->windowTitle()));
    if (FHandler) FHandler(window);
}

std::string Describe(QWidget* window)
{
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
        const char* kind = "box";
        switch (box->icon()) {
        case QMessageBox::Critical: kind = "error"; break;
        case QMessageBox::Information: kind = "info"; break;
        case QMessageBox::Warning: kind = "warning"; break;
        case QMessageBox::Question: kind = "question"; break;
        case QMessageBox::NoIcon: break;
        }
        return std::string(kind) + ":" + StdStr(box->text());
    }
    if (qobject_cast<TfrmConnectWiz*>(window)) return "wizard";
    if (qobject_cast<TComSetupFrm*>(window)) return "setup";
    if (qobject_cast<TfrmAbout*>(window)) return "about";
    if (auto* prompt = qobject_cast<TdlgUserPrompt*>(window)) return "prompt:" + StdStr(prompt->lblDialogText->text());
    return window->metaObject()->className();
}

void Later(std::function<void()> action) { QTimer::singleShot(0, qApp, std::move(action)); }

void Answer(QWidget* box, int standardButton)
{
    auto* messageBox = qobject_cast<QMessageBox*>(box);
    ASSERT_NE(messageBox, nullptr) << Describe(box);
    QAbstractButton* button = messageBox->button(QMessageBox::StandardButton(standardButton));
    ASSERT_NE(button, nullptr) << Describe(box);
    button->click();
}

bool PressStartAndWaitForEnd(TfrmUserFlash& form, const TGuiDriver& driver,
                             const std::function<bool(const std::vector<std::string>& log)>& ended)
{
    form.btnStart->click();
    return WaitUntil([&] { return ended(driver.Log()) && !form.Busy() && !QApplication::activeModalWidget(); });
}

void ExpectMainWindowIdle(TfrmUserFlash& form)
{
    EXPECT_FALSE(form.Busy());
    EXPECT_TRUE(form.btnStart->isEnabled());
    EXPECT_EQ(form.lblProgress->text(), "Progress");
    EXPECT_EQ(form.ProgressBar->value(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<TdlgUserPrompt*>(window) && window->isVisible()) << "the reset prompt is still up";
}
