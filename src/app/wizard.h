// The wizard page that shows the operator how to cable the unit to the PC:
// instruction lines on the left, a picture of the unit with the serial
// connector to use on the right, Next to go on and Cancel to stop.
#pragma once

#include <QDialog>
#include <QPointer>
#include <array>
#include <string>
#include <vector>

class QFrame;
class QGroupBox;
class QLabel;
class QPixmap;
class QPushButton;

constexpr int MaxInstructionLines = 20;

class TfrmConnectWiz : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConnectWiz(QWidget* parent = nullptr);
    ~TfrmConnectWiz() override;

    // Shows the lines and the picture modally; returns QDialog::Accepted
    // for Next and QDialog::Rejected for Cancel, Esc or the close box.
    // More than MaxInstructionLines lines raise "Too Many Strings" before
    // anything changes.
    int ShowInstructions(const std::vector<std::string>& lines, const QPixmap& picture);
    void SetInstructionLines(const std::vector<std::string>& lines);
    void ClearInstructionLines();

    QPushButton* btnNext;
    QPushButton* btnCancel;
    QGroupBox* GroupBox;
    QFrame* PanelImage;
    QLabel* Image;
    QFrame* PanelText;

private:
    // The line labels have no owner: the page creates and frees them itself.
    std::array<QLabel*, MaxInstructionLines> FLines{};
};

// The height a label of one line has before its text is set: a line of its
// font with two pixels above and below.
int DefaultLabelHeight(const QLabel& label);

// The wizard page of the program, created once at start-up.
extern QPointer<TfrmConnectWiz> frmConnectWiz;
