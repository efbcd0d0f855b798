// The "Setup" dialog that edits a serial port's settings, and the routine
// that shows it for one port with a chosen set of editable settings.
#pragma once

#include "app/settingcombo.h"

#include <QDialog>
#include <cstdint>

class QGroupBox;
class QLabel;
class QPushButton;

// Mask bits of the settings EditPortSettings lets the operator change.
enum : uint8_t {
    epPort = 1,
    epBaudRate = 2,
    epDataBits = 4,
    epStopBits = 8,
    epParity = 16,
    epFlowControl = 32,
    // What the operator confirms before a run: everything but flow control.
    epConnectionSettings = epPort | epBaudRate | epDataBits | epStopBits | epParity
};

class TComSetupFrm : public QDialog {
    Q_OBJECT
public:
    // Fills the six lists; listing the ports can raise EComPort code 23.
    explicit TComSetupFrm(QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    TComComboBox* Combo1;
    TComComboBox* Combo2;
    TComComboBox* Combo3;
    TComComboBox* Combo4;
    TComComboBox* Combo5;
    TComComboBox* Combo6;
    QPushButton* Button1;
    QPushButton* Button2;
};

// Shows the dialog for the port; the lists whose mask bit is set can be
// changed, the others only show the current value. On OK the editable
// settings are written to the port in one batch and true is returned; on
// Cancel or the close box the port is left as it was.
bool EditPortSettings(TCustomComPort& port, uint8_t mask);
