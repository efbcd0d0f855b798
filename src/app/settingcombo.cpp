#include "app/settingcombo.h"

#include "app/qtext.h"
#include "core/text.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

namespace {
template <class Enum>
void appendForms(std::vector<std::string>& items, Enum last, std::string (*toText)(Enum))
{
    for (int value = 0; value <= int(last); ++value) items.push_back(toText(Enum(value)));
}
}

std::string NotPresentText(const std::string& portName) { return portName + " (not present)"; }

void TComSelect::FillItems(TComProperty property)
{
    FComProperty = property;
    std::vector<std::string> items;
    switch (property) {
    case cpPort: ListSerialPorts(items); break;
    case cpBaudRate: appendForms(items, br256000, BaudRateToText); break;
    case cpDataBits: appendForms(items, dbEight, DataBitsToText); break;
    case cpStopBits: appendForms(items, sbTwoStopBits, StopBitsToText); break;
    case cpParity: appendForms(items, prSpace, ParityToText); break;
    case cpFlowControl: appendForms(items, fcCustom, FlowControlToText); break;
    case cpNone: break;
    }
    FItems = std::move(items);
}

std::string TComSelect::CurrentValueText() const
{
    switch (FComProperty) {
    case cpPort: return FComPort->Port();
    case cpBaudRate: return BaudRateToText(FComPort->BaudRate());
    case cpDataBits: return DataBitsToText(FComPort->DataBits());
    case cpStopBits: return StopBitsToText(FComPort->StopBits());
    case cpParity: return ParityToText(FComPort->Parity().Bits());
    case cpFlowControl: return FlowControlToText(FComPort->FlowControl().FlowControl());
    case cpNone: break;
    }
    return std::string();
}

int TComSelect::ShowPortValue()
{
    if (!FComPort || FComProperty == cpNone) return -1;
    const std::string value = CurrentValueText();
    const auto found = std::find_if(FItems.begin(), FItems.end(),
                                    [&](const std::string& item) { return SameTextIgnoringCase(item, value); });
    if (found == FItems.end()) return -1;
    // The entry's own spelling is what gets written back (com1 -> COM1).
    TakeText(*found);
    return int(found - FItems.begin());
}

void TComSelect::TakeText(const std::string& text)
{
    switch (FComProperty) {
    case cpPort: FPortName = text; break;
    case cpBaudRate: FBaudRate = TextToBaudRate(text); break;
    case cpDataBits: FDataBits = TextToDataBits(text); break;
    case cpStopBits: FStopBits = TextToStopBits(text); break;
    case cpParity: FParity = TextToParity(text); break;
    case cpFlowControl: FFlowControl = TextToFlowControl(text); break;
    case cpNone: break;
    }
    if (FAutoApply) ApplyToPort();
}

void TComSelect::ApplyToPort()
{
    if (!FComPort) return;
    switch (FComProperty) {
    case cpPort:
        if (!FPortName.empty()) FComPort->SetPort(FPortName);
        break;
    case cpBaudRate: FComPort->SetBaudRate(FBaudRate); break;
    case cpDataBits: FComPort->SetDataBits(FDataBits); break;
    case cpStopBits: FComPort->SetStopBits(FStopBits); break;
    case cpParity: FComPort->Parity().SetBits(FParity); break;
    case cpFlowControl: FComPort->FlowControl().SetFlowControl(FFlowControl); break;
    case cpNone: break;
    }
}

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
    connect(this, &QComboBox::activated, this, [this] { FComSelect.TakeText(Text()); });
}

void TComComboBox::SetComProperty(TComProperty property)
{
    FComSelect.FillItems(property);
    FillFromSelect();
}

void TComComboBox::FillFromSelect()
{
    clear();
    for (const std::string& item : FComSelect.Items()) {
        addItem(QStr(item));
        setItemData(count() - 1, QStr(item), Qt::ToolTipRole);
    }
    if (ComPort())
        ShowPortValue();
    else
        setCurrentIndex(count() > 0 ? 0 : -1);
    // Port paths can be wider than the list: the drop-down shows them whole.
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 8);
}

void TComComboBox::SetComPort(TCustomComPort* port)
{
    if (port == ComPort()) return;
    disconnect(FPortWatch);
    FComSelect.SetComPort(port);
    if (port) FPortWatch = connect(port, &QObject::destroyed, this, &TComComboBox::PortDestroyed);
    ShowPortValue();
}

void TComComboBox::PortDestroyed()
{
    FComSelect.SetComPort(nullptr);
    setCurrentIndex(count() > 0 ? 0 : -1);
}

void TComComboBox::ShowPortValue()
{
    if (!ComPort()) return;
    const int index = FComSelect.ShowPortValue();
    setCurrentIndex(index);
    // A port that is not among the listed ones (an adapter that was
    // unplugged) is still the one that OK keeps: the field names it, marked,
    // rather than standing blank.
    if (ComProperty() == cpPort)
        setPlaceholderText(index < 0 && !ComPort()->Port().empty() ? QStr(NotPresentText(ComPort()->Port()))
                                                                   : QString());
}

void TComComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    if (currentIndex() < 0) option.currentText = placeholderText();
    const QRect textArea = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideLeft, textArea.width());
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

std::string TComComboBox::Text() const
{
    return currentIndex() >= 0 ? StdStr(itemText(currentIndex())) : std::string();
}

void TComComboBox::SetText(const std::string& text)
{
    const int index = findText(QStr(text), Qt::MatchFixedString);
    if (index >= 0) setCurrentIndex(index);
}
