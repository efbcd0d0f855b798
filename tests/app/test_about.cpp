// The About box: its texts, its single way out, the web link and the menu
// entry that opens it.
#include "tests/support/guidriver.h"
#include "tests/support/records.h"

#include "app/about.h"
#include "app/flashapp.h"
#include "app/startup.h"

#include <QAction>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>

namespace {
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> Opened;
public slots:
    void open(const QUrl& url) { Opened.push_back(url); }
};

class AboutBox : public ::testing::Test {
protected:
    void TearDown() override { SetApplicationTitle(ProgramTitle); }
};

TEST_F(AboutBox, FillsInItsTextsAtCreation)
{
    auto record = MakeRecord("4620 V2.5", 3, 32768);
    std::unique_ptr<TfrmUserFlash> form = CreateForms(*record);
    TfrmAbout& about = *frmAbout;
    EXPECT_EQ(about.windowTitle(), "About 4620 V2.5");
    EXPECT_EQ(about.size(), QSize(455, 199));
    EXPECT_EQ(about.lblVersion->text().toStdString(), std::string("4620-511 Version 1.6\n") + MakerNoticeText);
    EXPECT_EQ(about.lblMorvex->text(), "Morvex Instruments");
    EXPECT_EQ(about.lblProgram->text(), "Morvex Classic Series Flash Programmer");
    EXPECT_EQ(about.lblBinaryImage->text(), "No Flash Image Available");
    EXPECT_EQ(about.lblMorvexWeb->text(), MakerWebHost);
    EXPECT_EQ(about.btnOk->text(), "Ok");
    EXPECT_EQ(about.ImageRI->pixmap().deviceIndependentSize().toSize(), QSize(32, 32));
    EXPECT_EQ(about.focusWidget(), about.btnOk);
}

TEST_F(AboutBox, WithoutAnImageNameTheCaptionNamesTheProgramAndTheImageLineStays)
{
    auto record = MakeRecord("", 3, 32768);
    TGuiDriver driver([](QWidget* window) {
        if (auto* about = qobject_cast<TfrmAbout*>(window))
            about->btnOk->click();
        else
            Answer(window, QMessageBox::Ok); // the invalid-image message
    });
    std::unique_ptr<TfrmUserFlash> form = CreateForms(*record);
    EXPECT_EQ(frmAbout->windowTitle(), "About Morvex Classic Series Flash Programmer");
    frmAbout->ShowAbout();
    EXPECT_EQ(frmAbout->lblBinaryImage->text(), "No Flash Image Available");
}

TEST_F(AboutBox, OnlyOkClosesIt)
{
    auto record = MakeRecord("4620 V2.5", 3, 32768);
    std::unique_ptr<TfrmUserFlash> form = CreateForms(*record);
    bool stayedOpen = false;
    TGuiDriver driver([&](QWidget* window) {
        auto* about = qobject_cast<TfrmAbout*>(window);
        ASSERT_NE(about, nullptr);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(about, &escape);
        Later([&, about] {
            about->close();
            stayedOpen = about->isVisible();
            about->btnOk->click();
        });
    });
    HandleSysCommand(SC_ABOUT);
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(frmAbout->isVisible());
    EXPECT_EQ(driver.Log(), std::vector<std::string>{"about"});
    EXPECT_EQ(frmAbout->lblBinaryImage->text(), "Flash Image: 4620 V2.5");
}

TEST_F(AboutBox, TheWindowMenuEndsWithASeparatorAndAboutWhichOpensTheBox)
{
    auto record = MakeRecord("4620 V2.5", 3, 32768);
    std::unique_ptr<TfrmUserFlash> form = CreateForms(*record);
    const QList<QAction*> actions = form->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.back()->text(), "About...");
    EXPECT_EQ(form->contextMenuPolicy(), Qt::ActionsContextMenu);

    TGuiDriver driver([](QWidget* window) {
        ASSERT_NE(qobject_cast<TfrmAbout*>(window), nullptr);
        EXPECT_TRUE(window->isModal());
        static_cast<TfrmAbout*>(window)->btnOk->click();
    });
    actions.back()->trigger();
    EXPECT_EQ(driver.Log(), std::vector<std::string>{"about"});

    HandleSysCommand(SC_ABOUT + 1); // any other command does not open it
    EXPECT_EQ(driver.Log().size(), 1u);
}

TEST_F(AboutBox, TheLinkOpensTheMakersAddress)
{
    TfrmAbout about;
    TUrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    const QPointF inside(2, 2);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, about.lblMorvexWeb->mapToGlobal(inside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(about.lblMorvexWeb, &release);
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.Opened.size(), 1u);
    EXPECT_EQ(catcher.Opened[0].toString().toStdString(), std::string("https://") + MakerWebHost + "/");
}
}

#include "test_about.moc"
