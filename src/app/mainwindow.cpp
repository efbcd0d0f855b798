#include "app/mainwindow.h"

#include "app/about.h"
#include "app/artwork.h"
#include "app/flashapp.h"
#include "app/messageboxes.h"
#include "app/formfont.h"
#include "app/qtext.h"
#include "app/setupdialog.h"
#include "app/userpromptdialog.h"
#include "app/wizard.h"
#include "serial/devicechannel.h"
#include "target/unitmodels.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {
// The artwork of the window's icon, by its place in ImageListIcons.
const char* const IconNames[] = {"icon3810", "icon4620", "icon7100", "icon7300",
                                 "icon4621", "icon8200", "icon8400", "icon3840"};
}

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
    ImageRI->setGeometry(8, 8, 32, 32);

    for (size_t i = 0; i < ImageListIcons.size(); ++i) ImageListIcons[i] = ArtworkPixmap(IconNames[i], QSize(32, 32));
    img4620 = ArtworkPixmap("cable4620", QSize(200, 186));
    img7300 = ArtworkPixmap("cable7300", QSize(200, 176));
    img3810 = ArtworkPixmap("cable3810", QSize(200, 148));
    img8200 = ArtworkPixmap("cable8200", QSize(200, 76));
    img3840 = ArtworkPixmap("cable3840", QSize(123, 200));

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
    const TUnitType* type = FindUnitType(UnitType(FImage));
    const char* icon = type ? type->Icon : nullptr;
    for (size_t i = 0; icon && i < ImageListIcons.size(); ++i) {
        if (std::string(IconNames[i]) != icon) continue;
        ImageRI->setPixmap(ImageListIcons[i]);
        return;
    }
    ImageRI->setPixmap(QApplication::windowIcon().pixmap(32, 32));
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

const QPixmap& TfrmUserFlash::CablePicture(const std::string& name) const
{
    if (name == "cable3810") return img3810;
    if (name == "cable7300") return img7300;
    if (name == "cable8200") return img8200;
    if (name == "cable3840") return img3840;
    return img4620;
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
