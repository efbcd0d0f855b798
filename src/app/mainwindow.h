// The main window: Start, the status label and the progress bar, and the
// programming run behind Start (cabling wizard, port settings, connection
// with the boot-method fallback, deciphering, check, erase, program,
// verify, reset).
#pragma once

#include "app/comparedialogs.h"
#include "app/progressviews.h"
#include "image/storedimage.h"
#include "protocol/loaderprotocol.h"

#include <QPixmap>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class THitachiFlash;

// The wizard's instruction lines for a unit type with their picture.
struct TWizardPage {
    std::vector<std::string> Lines;
    QPixmap Picture;
};

class TfrmUserFlash : public QWidget {
    Q_OBJECT
public:
    explicit TfrmUserFlash(const TStoredImage& image = StoredImage);
    ~TfrmUserFlash() override;

    void SetBusy(bool busy);
    bool Busy() const { return FBusy; }
    THitachiFlash* Flash() const { return FFlash.get(); }
    const TConnectInfo& ConnectInfo() const { return FConnectInfo; }

    // The 13 lines (instructions, an empty line, the cable information)
    // and the picture the wizard shows for a unit type; none for the unit
    // types that have no wizard page.
    std::optional<TWizardPage> WizardPage(uint32_t unitType) const;

    QProgressBar* ProgressBar;
    QPushButton* btnStart;
    QLabel* lblProgress;
    QLabel* ImageRI;
    std::array<QPixmap, 8> ImageListIcons;
    QPixmap img4620;
    QPixmap img7300;
    QPixmap img3810;
    QPixmap img8200;
    QPixmap img3840;

public slots:
    // The whole programming run. A failure leaves it after the window is
    // back to idle and is shown by the application's error box.
    void btnStartClick();

protected:
    // Refused while a run is under way.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void ChooseIcon();
    void ConnectUnit();
    void ShowConnectWizard(uint32_t unitType);
    void CreateTarget(uint8_t method);
    void ProgramImage();
    void RunFlashSequence(TMemoryStream& stream);
    void FreeFlash();

    const TStoredImage& FImage;
    bool FBusy = false;
    TConnectInfo FConnectInfo;
    std::unique_ptr<THitachiFlash> FFlash;
    TLabelStatusText FStatusText;
    TBarProgressView FProgressView;
    TMessageBoxDialogs FCompareDialogs;
};
