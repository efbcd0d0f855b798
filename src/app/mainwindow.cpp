#include "app/mainwindow.h"

#include "app/about.h"
#include "app/artwork.h"
#include "app/setupdialog.h"
#include "app/flashapp.h"
#include "app/formfont.h"
#include "app/qtext.h"
#include "app/wizard.h"
#include "core/cleanup.h"
#include "image/encryptedstream.h"
#include "serial/devicechannel.h"
#include "target/unitmodels.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {
const std::vector<std::string> InstructionsArrow = {
    "Instructions:", " 1 Connect a serial cable to serial port of", "    the $UNIT as shown (by red arrow)",
    " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"};
const std::vector<std::string> InstructionsPlain = {
    "Instructions:", " 1 Connect a serial cable to serial port of", "    the $UNIT as shown",
    " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"};
const std::vector<std::string> InstructionsSerial2 = {
    "Instructions:", " 1 Connect a serial cable to SERIAL 2 of the", "    $UNIT as shown",
    " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"};
const std::string CableInformation = "\rCable Information:\r"
                                     "  Crossed DB9 Female - DB9 Female\r"
                                     "  RS232 Serial Cable\r"
                                     "    Pin      Pin\r"
                                     "     2  ----  3\r"
                                     "     3  ----  2\r"
                                     "     5  ----  5";
const std::string UnitPlaceholder = "$UNIT";

const char* const ConnectCancelled = "Connect Cancelled by User";

// Splits a text into lines; a line ends at CR, LF or CR LF, and a break at
// the very end starts no further line.
std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

}

TfrmUserFlash::TfrmUserFlash(const TStoredImage& image)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      ProgressBar(new QProgressBar(this)), btnStart(new QPushButton("Start", this)),
      lblProgress(new QLabel("Progress", this)), ImageRI(new QLabel(this)), FImage(image), FStatusText(lblProgress),
      FProgressView(ProgressBar)
{
    setFont(FormFont());
    setFixedSize(295, 97);
    ProgressBar->setGeometry(56, 24, 233, 25);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    btnStart->setGeometry(112, 64, 75, 25);
    lblProgress->setTextFormat(Qt::PlainText);
    lblProgress->setGeometry(56, 8, 233, 14);
    ImageRI->setGeometry(8, 8, 32, 32);

    const char* const iconNames[] = {"icon3810", "icon4620", "icon7100", "icon7300",
                                     "icon4621", "icon8200", "icon8400", "icon3840"};
    for (size_t i = 0; i < ImageListIcons.size(); ++i) ImageListIcons[i] = ArtworkPixmap(iconNames[i], QSize(32, 32));
    img4620 = ArtworkPixmap("cable4620", QSize(200, 186));
    img7300 = ArtworkPixmap("cable7300", QSize(200, 176));
    img3810 = ArtworkPixmap("cable3810", QSize(200, 148));
    img8200 = ArtworkPixmap("cable8200", QSize(200, 76));
    img3840 = ArtworkPixmap("cable3840", QSize(123, 200));

    // Run the programming run after the click has been delivered, so that
    // a failure leaves it through the application's event delivery alone.
    connect(btnStart, &QPushButton::clicked, this, &TfrmUserFlash::btnStartClick, Qt::QueuedConnection);
    FormCreate();
}

TfrmUserFlash::~TfrmUserFlash() = default;

void TfrmUserFlash::FormCreate()
{
    AddAboutMenuItem(this);
    setWindowTitle(QStr(ApplicationTitle()));
    ChooseIcon();
    FBusy = false;
    FConnectInfo.ConnectPort = new TMorvexComPort(this);
    FConnectInfo.ProgramPort = new TMorvexComPort(this);
    FConnectInfo.Prompt = nullptr;
    FFlash.reset();
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
    int index;
    switch (UnitType(FImage)) {
    case 1: index = 0; break;
    case 3: index = 1; break;
    case 5:
    case 6: index = 2; break;
    case 7:
    case 8:
    case 9:
    case 13: index = 3; break;
    case 10: index = 4; break;
    case 11: index = 5; break;
    case 12: index = 6; break;
    case 14: index = 7; break;
    default: index = -1; break;
    }
    ImageRI->setPixmap(index >= 0 ? ImageListIcons[size_t(index)] : QApplication::windowIcon().pixmap(32, 32));
}

void TfrmUserFlash::SetBusy(bool busy)
{
    FBusy = busy;
    btnStart->setEnabled(!busy);
}

void TfrmUserFlash::closeEvent(QCloseEvent* event)
{
    if (FBusy) {
        event->ignore();
        ShowErrorBox("Programming in Progress. Please wait until programming is complete.");
        return;
    }
    event->accept();
}

void TfrmUserFlash::btnStartClick()
{
    if (FBusy) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetBusy(true);
    RunThenAlways(
        [this] {
            ConnectUnit();
            RunThenAlways([this] { ProgramImage(); }, [this] { FreeFlash(); });
            ShowInformationBox("Unit Successfully Programmed!");
        },
        [this] {
            lblProgress->setText("Progress");
            ProgressBar->setValue(0);
            SetBusy(false);
            QApplication::restoreOverrideCursor();
        });
}

void TfrmUserFlash::FreeFlash()
{
    if (!FFlash) return;
    std::unique_ptr<THitachiFlash> flash = std::move(FFlash);
    flash->ClosePort();
}

void TfrmUserFlash::ConnectUnit()
{
    const uint32_t unitType = UnitType(FImage);
    ShowConnectWizard(unitType);
    if (!EditPortSettings(*FConnectInfo.ConnectPort, 31)) throw EHitachiFlashException(ConnectCancelled);
    CreateTarget(kUserMethod);
    std::string failure;
    try {
        FFlash->Connect();
        return;
    } catch (const std::exception& userMethodFailure) {
        failure = userMethodFailure.what();
    }
    if (!AskConfirmation("User Connect Method Failed (" + failure + "). Try Boot Method?"))
        throw EHitachiFlashException(ConnectCancelled);
    CreateTarget(kBootMethod);
    FFlash->Connect();
}

void TfrmUserFlash::CreateTarget(uint8_t method)
{
    FConnectInfo.Method = method;
    CreateFlashTarget(UnitType(FImage), FFlash, &FStatusText, &FProgressView, FConnectInfo);
    FFlash->SetCompareDialogs(&FCompareDialogs);
}

std::optional<TWizardPage> TfrmUserFlash::WizardPage(uint32_t unitType) const
{
    const std::vector<std::string>* instructions;
    const QPixmap* picture;
    switch (unitType) {
    case 1:
        instructions = &InstructionsArrow;
        picture = &img3810;
        break;
    case 3:
    case 4:
    case 10:
        instructions = &InstructionsPlain;
        picture = &img4620;
        break;
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 12:
    case 13:
        instructions = &InstructionsSerial2;
        picture = &img7300;
        break;
    case 11:
        instructions = &InstructionsPlain;
        picture = &img8200;
        break;
    case 14:
        instructions = &InstructionsArrow;
        picture = &img3840;
        break;
    default: return std::nullopt;
    }
    std::string text;
    for (const std::string& line : *instructions) text += line + "\r\n";
    text += CableInformation;
    const std::string model = UnitModelNames[unitType];
    for (size_t at = text.find(UnitPlaceholder); at != std::string::npos;
         at = text.find(UnitPlaceholder, at + model.size()))
        text.replace(at, UnitPlaceholder.size(), model);
    return TWizardPage{splitLines(text), *picture};
}

void TfrmUserFlash::ShowConnectWizard(uint32_t unitType)
{
    const std::optional<TWizardPage> page = WizardPage(unitType);
    if (!page) return;
    if (frmConnectWiz->ShowInstructions(page->Lines, page->Picture) != QDialog::Accepted)
        throw EHitachiFlashException(ConnectCancelled);
}

void TfrmUserFlash::ProgramImage()
{
    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(2);
    LoadImage(stream, FImage);
    std::string passPhrase = GetPassPhrase();
    RunThenAlways([&] { stream.Decrypt(passPhrase.data(), uint32_t(passPhrase.size())); },
                  [&] { SecureZero(passPhrase.data(), passPhrase.size()); });
    RunFlashSequence(stream);
}

void TfrmUserFlash::RunFlashSequence(TMemoryStream& stream)
{
    FFlash->Check(stream);
    FFlash->Erase();
    FFlash->Program(stream);
    FFlash->Verify(stream);
    FFlash->Reset();
}
