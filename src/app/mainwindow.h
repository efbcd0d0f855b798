// The main window: Start, the status label and the progress bar. Start
// runs the programming run, and the window is its operator: it shows the
// cabling page, the Setup dialog, the boot question, the closing message
// boxes and the comparison's boxes.
#pragma once

#include "app/comparedialogs.h"
#include "app/modelartwork.h"
#include "app/progressviews.h"
#include "image/storedimage.h"
#include "run/programmingrun.h"

#include <QPixmap>
#include <QWidget>
#include <optional>
#include <vector>
#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class THitachiFlash;

// A unit type's cabling page as the wizard shows it: the lines and the
// picture itself.
struct TWizardView {
    std::vector<std::string> Lines;
    QPixmap Picture;
};

class TfrmUserFlash : public QWidget, private TRunOperator {
    Q_OBJECT
public:
    explicit TfrmUserFlash(const TStoredImage& image = StoredImage, const TImageDigest& digest = StoredImageDigest);
    ~TfrmUserFlash() override;

    void SetBusy(bool busy);
    bool Busy() const { return FBusy; }
    THitachiFlash* Flash() const { return FRun->Flash(); }
    const TConnectInfo& ConnectInfo() const { return FRun->ConnectInfo(); }
    TProgrammingRun& Run() const { return *FRun; }

    // The cabling page for a unit type, none for the types without one.
    std::optional<TWizardView> WizardPage(uint32_t unitType) const;

    QProgressBar* ProgressBar;
    QPushButton* btnStart;
    QLabel* lblProgress;
    QLabel* ImageRI;
    // The unit models' icons and cabling pictures.
    const TModelArtwork& Artwork() const { return FArtwork; }

public slots:
    // The whole programming run. A failure is shown, after the window is
    // back to idle, in the error box every failure gets (ShowException).
    void btnStartClick();

protected:
    // Refused while a run is under way.
    void closeEvent(QCloseEvent* event) override;
    // The system menu's "About..." (Windows).
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void FormCreate();
    void ChooseIcon();
    QPixmap CablePicture(const std::string& name) const;

    // The run's operator.
    bool ShowWizardPage(const TWizardPage& page) override;
    bool EditPortSettings(TMorvexComPort& port) override;
    bool AskBootMethod(const std::string& question) override;
    TUserPrompt* CreatePrompt(QObject* owner) override;
    void BackgroundFailure(const std::exception& failure) override;
    TStatusText* StatusText() override { return &FStatusText; }
    TProgressView* ProgressView() override { return &FProgressView; }
    TMessageDialogs* CompareDialogs() override { return &FCompareDialogs; }
    void ShowSuccess(const std::string& text) override;
    void RunEnded() override;
    void ShowFailure(const std::exception& failure, TFailureKind kind) override;

    const TStoredImage& FImage;
    const TImageDigest FDigest;
    const TModelArtwork FArtwork;
    bool FBusy = false;
    TLabelStatusText FStatusText;
    TBarProgressView FProgressView;
    TMessageBoxDialogs FCompareDialogs;
    TProgrammingRun* FRun = nullptr;
};
