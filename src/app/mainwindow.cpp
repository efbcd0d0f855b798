#include "app/mainwindow.h"

#include "app/about.h"
#include "app/flashapp.h"
#include "app/messageboxes.h"
#include "app/formfont.h"
#include "app/qtext.h"
#include "app/setupdialog.h"
#include "app/userpromptdialog.h"
#include "app/wizard.h"
#include "serial/devicechannel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

TfrmUserFlash::TfrmUserFlash(const TStoredImage& image, const TImageDigest& digest)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      ProgressBar(new QProgressBar(this)), btnStart(new QPushButton("Start", this)),
      lblProgress(new QLabel("Progress", this)), ImageRI(new QLabel(this)), FImage(image), FDigest(digest),
      FStatusText(lblProgress), FProgressView(ProgressBar)
{
    setFont(FormFont());
    setFixedSize(295, 97);
    ProgressBar->setGeometry(56, 24, 233, 25);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    btnStart->setGeometry(112, 64, 75, 25);
    lblProgress->setTextFormat(Qt::PlainText);
    lblProgress->setGeometry(56, 8, 233, 14);
    ImageRI->setGeometry(QRect(QPoint(8, 8), TModelArtwork::IconSize));

    // Run the programming run after the click has been delivered, so that
    // the click's own handling is over before the run's windows appear.
    connect(btnStart, &QPushButton::clicked, this, &TfrmUserFlash::btnStartClick, Qt::QueuedConnection);
    FormCreate();
}

TfrmUserFlash::~TfrmUserFlash() = default;

bool TfrmUserFlash::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    return HandleSystemMenuMessage(eventType, message, result) || QWidget::nativeEvent(eventType, message, result);
}

void TfrmUserFlash::FormCreate()
{
    AddAboutMenuItem(this);
    setWindowTitle(QStr(ApplicationTitle()));
    ChooseIcon();
    FBusy = false;
    // The run owns the connection record: its two settings holders, with
    // their defaults, no prompt of the window's own (every target uses its
    // own), and no target yet.
    FRun = new TProgrammingRun(*this, FImage, FDigest, this);
    const std::string name = GetImageName(FImage);
    if (!name.empty()) {
        SetApplicationTitle(name);
        setWindowTitle(QStr(name));
    }
    if (!IsImageValid(FImage)) {
        ShowErrorBox("No Valid FLASH Image Present!");
        btnStart->setEnabled(false);
    }
}

void TfrmUserFlash::ChooseIcon()
{
    const QPixmap* icon = FArtwork.Icon(UnitType(FImage));
    ImageRI->setPixmap(icon && !icon->isNull() ? *icon : QApplication::windowIcon().pixmap(TModelArtwork::IconSize));
}

void TfrmUserFlash::SetBusy(bool busy)
{
    FBusy = busy;
    SetRunUnderWay(busy);
    btnStart->setEnabled(!busy);
}

void TfrmUserFlash::closeEvent(QCloseEvent* event)
{
    if (FBusy) {
        event->ignore();
        OpenErrorBox("Programming in Progress. Please wait until programming is complete.");
        return;
    }
    event->accept();
}

void TfrmUserFlash::btnStartClick()
{
    if (FBusy) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetBusy(true);
    FRun->Execute();
}

// ---------------------------------------------------------- the run's operator

QPixmap TfrmUserFlash::CablePicture(const std::string& name) const
{
    const QPixmap* picture = FArtwork.Picture(name);
    return picture ? *picture : QPixmap();
}

std::optional<TWizardView> TfrmUserFlash::WizardPage(uint32_t unitType) const
{
    std::optional<TWizardPage> page = ::WizardPage(unitType);
    if (!page) return std::nullopt;
    return TWizardView{std::move(page->Lines), CablePicture(page->Picture)};
}

bool TfrmUserFlash::ShowWizardPage(const TWizardPage& page)
{
    return frmConnectWiz->ShowInstructions(page.Lines, CablePicture(page.Picture)) == QDialog::Accepted;
}

bool TfrmUserFlash::EditPortSettings(TMorvexComPort& port) { return ::EditPortSettings(port, epConnectionSettings); }

bool TfrmUserFlash::AskBootMethod(const std::string& question) { return AskConfirmation(question); }

TUserPrompt* TfrmUserFlash::CreatePrompt(QObject* owner) { return new TUserPromptDialog(owner); }

// The keep-alive found the unit gone between steps: shown at once, in the
// same box as every other failure.
void TfrmUserFlash::BackgroundFailure(const std::exception& failure) { ShowException(failure); }

void TfrmUserFlash::ShowSuccess(const std::string& text) { ShowInformationBox(text); }

void TfrmUserFlash::RunEnded()
{
    lblProgress->setText("Progress");
    ProgressBar->setValue(0);
    SetBusy(false);
    QApplication::restoreOverrideCursor();
}

// The window is idle again by now. The failure is shown here, where the run
// was started, in the same box as a failure that reaches the application's
// event delivery: it must never unwind through Qt's event delivery, which
// is built without exceptions.
void TfrmUserFlash::ShowFailure(const std::exception& failure, TFailureKind) { ShowException(failure); }
