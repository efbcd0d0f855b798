// The cabling wizard page: its lines, its picture and its two answers.
#include "tests/support/guidriver.h"

#include "app/wizard.h"
#include "core/exceptions.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>
#include <cmath>

namespace {
std::vector<std::string> numberedLines(int count, const char* prefix = "line ")
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) lines.push_back(prefix + std::to_string(i));
    return lines;
}

std::vector<std::string> shownLines(const TfrmConnectWiz& wizard)
{
    std::vector<std::string> texts;
    for (QLabel* label : wizard.PanelText->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        texts.push_back(label->text().toStdString());
    return texts;
}

TEST(ConnectWizard, IsTheFixedPageWithItsCaptionAndButtons)
{
    TfrmConnectWiz wizard;
    EXPECT_EQ(wizard.windowTitle(), "Connecting the Unit to the PC");
    EXPECT_EQ(wizard.size(), QSize(484, 272));
    EXPECT_EQ(wizard.minimumSize(), wizard.maximumSize());
    EXPECT_EQ(wizard.btnNext->text(), "Next >>>");
    EXPECT_TRUE(wizard.btnNext->isDefault());
    EXPECT_EQ(wizard.btnCancel->text(), "Cancel");
}

TEST(ConnectWizard, PlacesLinesThreeQuartersOfALabelHeightApart)
{
    TfrmConnectWiz wizard;
    wizard.SetInstructionLines(numberedLines(20));
    const QList<QLabel*> labels = wizard.PanelText->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(labels.size(), 20);
    const int height = DefaultLabelHeight(*labels[0]);
    EXPECT_EQ(height, labels[0]->fontMetrics().height() + 4);
    for (int i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(labels[i]->text().toStdString(), "line " + std::to_string(i));
        EXPECT_EQ(labels[i]->x(), 5);
        EXPECT_EQ(labels[i]->y(), 5 + int(std::nearbyint(height * 0.75 * i))) << i;
    }
    // Consecutive lines do not sit on top of each other, and the longest
    // line fits the panel.
    EXPECT_GE(labels[1]->y() - labels[0]->y(), labels[0]->fontMetrics().lineSpacing() - 1);
    wizard.SetInstructionLines({"Instructions:", " 2 Connect the other end to the PC serial port"});
    const QList<QLabel*> wide = wizard.PanelText->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(wide.size(), 2);
    EXPECT_LE(wide[1]->geometry().right(), wizard.PanelText->contentsRect().right());
}

TEST(ConnectWizard, TooManyLinesAreRefusedBeforeAnythingChanges)
{
    TfrmConnectWiz wizard;
    wizard.SetInstructionLines(numberedLines(3, "first "));
    try {
        wizard.SetInstructionLines(numberedLines(21));
        FAIL() << "21 lines were accepted";
    } catch (const Exception& failure) {
        EXPECT_EQ(failure.Message(), "Too Many Strings");
    }
    EXPECT_EQ(shownLines(wizard), numberedLines(3, "first "));
}

TEST(ConnectWizard, ASecondShowingLeavesNoLabelOfTheFirst)
{
    TfrmConnectWiz wizard;
    wizard.SetInstructionLines(numberedLines(13, "long "));
    wizard.SetInstructionLines(numberedLines(4, "short "));
    EXPECT_EQ(shownLines(wizard), numberedLines(4, "short "));
    wizard.ClearInstructionLines();
    EXPECT_TRUE(shownLines(wizard).empty());
}

// Shows the page with a driver that answers it and returns the result.
int showAnswered(TfrmConnectWiz& wizard, const std::vector<std::string>& lines, const QPixmap& picture,
                 const std::function<void(TfrmConnectWiz&)>& answer, std::vector<std::string>* seenLines = nullptr)
{
    TGuiDriver driver([&](QWidget* window) {
        EXPECT_EQ(window, &wizard);
        if (seenLines) *seenLines = shownLines(wizard);
        answer(wizard);
    });
    return wizard.ShowInstructions(lines, picture);
}

TEST(ConnectWizard, NextAcceptsAndShowsTheLinesAndPicture)
{
    TfrmConnectWiz wizard;
    QPixmap picture(200, 186);
    picture.fill(Qt::red);
    std::vector<std::string> seen;
    const int result = showAnswered(
        wizard, numberedLines(13), picture, [](TfrmConnectWiz& page) { page.btnNext->click(); }, &seen);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(seen, numberedLines(13));
    EXPECT_EQ(wizard.Image->pixmap().size(), QSize(200, 186));
    EXPECT_FALSE(wizard.isVisible());
}

TEST(ConnectWizard, CancelEscAndTheCloseBoxAllCancel)
{
    TfrmConnectWiz wizard;
    QPixmap picture(123, 200);
    EXPECT_EQ(showAnswered(wizard, {}, picture, [](TfrmConnectWiz& page) { page.btnCancel->click(); }),
              QDialog::Rejected);
    EXPECT_EQ(showAnswered(wizard, {}, picture,
                           [](TfrmConnectWiz& page) {
                               QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                               QApplication::sendEvent(&page, &escape);
                           }),
              QDialog::Rejected);
    EXPECT_EQ(showAnswered(wizard, {}, picture, [](TfrmConnectWiz& page) { Later([&page] { page.close(); }); }),
              QDialog::Rejected);
}

TEST(ConnectWizard, AnEmptyListShowsOnlyThePicture)
{
    TfrmConnectWiz wizard;
    wizard.SetInstructionLines(numberedLines(5));
    QPixmap picture(200, 76);
    std::vector<std::string> seen{"not looked at"};
    showAnswered(
        wizard, {}, picture, [](TfrmConnectWiz& page) { page.btnNext->click(); }, &seen);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(wizard.Image->pixmap().size(), QSize(200, 76));
}
}
