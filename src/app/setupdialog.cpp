#include "app/setupdialog.h"

#include "app/flashapp.h"
#include "app/formfont.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

TComSetupFrm::TComSetupFrm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle("Setup");
    setFont(FormFont());
    setFixedSize(231, 216);

    GroupBox1 = new QGroupBox(" Settings ", this);
    GroupBox1->setGeometry(8, 8, 215, 168);

    const char* const captions[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
    QLabel** const labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6};
    TComComboBox** const combos[] = {&Combo1, &Combo2, &Combo3, &Combo4, &Combo5, &Combo6};
    QStringList labelTexts;
    for (const char* caption : captions) labelTexts.append(caption);
    GroupBox1->setFont(FontFittingWidth(font(), labelTexts, 72));
    for (int row = 0; row < 6; ++row) {
        const int top = 22 + row * 24;
        *labels[row] = new QLabel(captions[row], GroupBox1);
        (*labels[row])->setGeometry(8, top + 3, 72, 16);
        *combos[row] = new TComComboBox(GroupBox1);
        (*combos[row])->setGeometry(80, top, 127, 21);
        (*combos[row])->SetComProperty(TComProperty(cpPort + row));
    }

    Button1 = new QPushButton("OK", this);
    Button1->setGeometry(36, 184, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button2 = new QPushButton("Cancel", this);
    Button2->setGeometry(120, 184, 75, 25);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    QWidget* previous = Combo1;
    for (QWidget* next : {static_cast<QWidget*>(Combo2), static_cast<QWidget*>(Combo3), static_cast<QWidget*>(Combo4),
                          static_cast<QWidget*>(Combo5), static_cast<QWidget*>(Combo6), static_cast<QWidget*>(Button1),
                          static_cast<QWidget*>(Button2)}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

bool EditPortSettings(TCustomComPort& port, uint8_t mask)
{
    TComSetupFrm dialog;
    TComComboBox* const combos[] = {dialog.Combo1, dialog.Combo2, dialog.Combo3,
                                    dialog.Combo4, dialog.Combo5, dialog.Combo6};
    for (TComComboBox* combo : combos) combo->SetComPort(&port);
    for (TComComboBox* combo : combos) combo->ShowPortValue();
    for (int row = 0; row < 6; ++row) combos[row]->setEnabled((mask & (1u << row)) != 0);

    CentreOnScreen(&dialog);
    if (dialog.exec() != QDialog::Accepted) return false;

    port.SuspendApply();
    try {
        for (int row = 0; row < 6; ++row)
            if (mask & (1u << row)) combos[row]->ApplyToPort();
    } catch (...) {
        port.ResumeApply();
        throw;
    }
    port.ResumeApply();
    return true;
}
