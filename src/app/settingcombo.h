// A drop-down list bound to one setting of a serial port: it offers the
// setting's text forms (or the PC's ports), shows the port's current value,
// remembers the operator's pick and writes it to the port on request.
#pragma once

#include "serial/comport.h"

#include <QComboBox>
#include <QMetaObject>
#include <string>
#include <vector>

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The logic behind one list, free of widgets.
class TComSelect {
public:
    TCustomComPort* ComPort() const { return FComPort; }
    void SetComPort(TCustomComPort* port) { FComPort = port; }
    TComProperty ComProperty() const { return FComProperty; }
    bool AutoApply() const { return FAutoApply; }
    void SetAutoApply(bool value) { FAutoApply = value; }
    const std::vector<std::string>& Items() const { return FItems; }

    // Remembers the property and refills the entries with its text forms
    // (for cpPort the PC's serial ports; EComPort code 23 when they cannot
    // be listed). Any other property leaves no entries.
    void FillItems(TComProperty property);
    // The index of the entry that shows the bound port's current value
    // (matched ignoring letter case), remembering the value it names; -1,
    // remembering nothing, when there is no port or no such entry.
    int ShowPortValue();
    // The operator picked the entry with this text (empty: none).
    void TakeText(const std::string& text);
    // Writes the remembered value to the bound port. A port name is only
    // written once one has been picked or shown: a port whose name is not
    // among the listed ports keeps it rather than getting an empty name.
    void ApplyToPort();

private:
    std::string CurrentValueText() const;

    TCustomComPort* FComPort = nullptr;
    TComProperty FComProperty = cpNone;
    std::vector<std::string> FItems;
    bool FAutoApply = false;
    std::string FPortName;
    TBaudRate FBaudRate = brCustom;
    TDataBits FDataBits = dbFive;
    TStopBits FStopBits = sbOneStopBit;
    TParityBits FParity = prNone;
    TFlowControl FFlowControl = fcHardware;
};

// How the port list names a port that is set but not among the PC's ports.
std::string NotPresentText(const std::string& portName);

// The list control: a drop-down list that takes no typed text.
class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComComboBox(QWidget* parent = nullptr);

    TCustomComPort* ComPort() const { return FComSelect.ComPort(); }
    // Binds the list to a port (forgotten again when the port is destroyed)
    // and shows its value.
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return FComSelect.ComProperty(); }
    void SetComProperty(TComProperty property);
    bool AutoApply() const { return FComSelect.AutoApply(); }
    void SetAutoApply(bool value) { FComSelect.SetAutoApply(value); }
    // The selected entry, or empty text when none is selected.
    std::string Text() const;
    // Selects the entry equal to the text ignoring letter case, if any.
    void SetText(const std::string& text);

    // Selects the entry of the bound port's current value. For a port name
    // that is not listed none is selected, and the field shows the name
    // marked as not present.
    void ShowPortValue();
    void ApplyToPort() { FComSelect.ApplyToPort(); }

protected:
    // A text wider than the list is shown with its end, which is what
    // tells long port paths apart ("...ports/simulated-unit").
    void paintEvent(QPaintEvent* event) override;

private:
    void FillFromSelect();
    void PortDestroyed();

    TComSelect FComSelect;
    QMetaObject::Connection FPortWatch;
};
