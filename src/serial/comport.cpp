#include "serial/comport.h"

#include "serial/comthread.h"
#include "serial/portnames.h"
#include "serial/serialdevice.h"
#include "core/format.h"

namespace {

const char* const ComErrorTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
constexpr int32_t ComErrorCount = int32_t(sizeof ComErrorTexts / sizeof ComErrorTexts[0]);

std::string ComErrorMessage(int32_t code, int32_t systemError)
{
    std::string text = code >= 1 && code <= ComErrorCount ? ComErrorTexts[code - 1] : "";
    if (systemError != -1) text += Format(" (win error code: %d)", systemError);
    // A refused open is the one failure operators can mend themselves: the
    // line above stays as it always was, the next says how.
    if (code == CError_OpenFailed && systemError != -1) {
        const std::string advice = OpenFailureAdvice(systemError);
        if (!advice.empty()) text += "\n" + advice;
    }
    return text;
}

// Stores a changed value and reports whether it changed.
template <typename T>
bool Store(T& field, T value)
{
    if (field == value) return false;
    field = value;
    return true;
}

} // namespace

int32_t BaudRateBits(TBaudRate rate)
{
    static const int32_t bits[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                   14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate >= brCustom && rate <= br256000 ? bits[rate] : 0;
}

int32_t DataBitsCount(TDataBits bits) { return 5 + int32_t(bits); }

EComPort::EComPort(int32_t code, int32_t systemError)
    : Exception(ComErrorMessage(code, systemError), TFailureCause::PortError), FMessageCode(code),
      FSystemErrorCode(systemError)
{
}

// ---- settings objects ----

TComParity& TComParity::operator=(const TComParity& source)
{
    FBits = source.FBits;
    FCheck = source.FCheck;
    FReplace = source.FReplace;
    FReplaceChar = source.FReplaceChar;
    Changed();
    return *this;
}

void TComParity::Changed()
{
    if (FComPort) FComPort->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value)
{
    if (Store(FBits, value)) Changed();
}
void TComParity::SetCheck(bool value)
{
    if (Store(FCheck, value)) Changed();
}
void TComParity::SetReplace(bool value)
{
    if (Store(FReplace, value)) Changed();
}
void TComParity::SetReplaceChar(char value)
{
    if (Store(FReplaceChar, value)) Changed();
}

TComFlowControl& TComFlowControl::operator=(const TComFlowControl& source)
{
    FOutCTSFlow = source.FOutCTSFlow;
    FOutDSRFlow = source.FOutDSRFlow;
    FControlDTR = source.FControlDTR;
    FControlRTS = source.FControlRTS;
    FXonXoffOut = source.FXonXoffOut;
    FXonXoffIn = source.FXonXoffIn;
    FTxContinueOnXoff = source.FTxContinueOnXoff;
    FDSRSensitivity = source.FDSRSensitivity;
    FXonChar = source.FXonChar;
    FXoffChar = source.FXoffChar;
    Changed();
    return *this;
}

void TComFlowControl::Changed()
{
    if (FComPort) FComPort->ApplyLineSettings();
}

void TComFlowControl::SetOutCTSFlow(bool value)
{
    if (Store(FOutCTSFlow, value)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool value)
{
    if (Store(FOutDSRFlow, value)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value)
{
    if (Store(FControlDTR, value)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value)
{
    if (Store(FControlRTS, value)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool value)
{
    if (Store(FXonXoffOut, value)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool value)
{
    if (Store(FXonXoffIn, value)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool value)
{
    if (Store(FDSRSensitivity, value)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool value)
{
    if (Store(FTxContinueOnXoff, value)) Changed();
}
void TComFlowControl::SetXonChar(char value)
{
    if (Store(FXonChar, value)) Changed();
}
void TComFlowControl::SetXoffChar(char value)
{
    if (Store(FXoffChar, value)) Changed();
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut) return fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut) return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value)
{
    if (value != fcCustom) {
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
    }
    if (value == fcHardware) {
        FControlRTS = rtsHandshake;
        FOutCTSFlow = true;
    } else if (value == fcSoftware) {
        FXonXoffIn = true;
        FXonXoffOut = true;
    }
    Changed();
}

namespace {
int32_t EvenSize(int32_t value) { return value > 0 && (value & 1) ? value - 1 : value; }
} // namespace

void TComBuffer::SetInputSize(int32_t value)
{
    if (value == FInputSize) return;
    FInputSize = EvenSize(value);
    if (FComPort) FComPort->ApplyBufferSizes();
}

void TComBuffer::SetOutputSize(int32_t value)
{
    if (value == FOutputSize) return;
    FOutputSize = EvenSize(value);
    if (FComPort) FComPort->ApplyBufferSizes();
}

void TComTimeouts::Changed()
{
    if (FComPort) FComPort->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t value)
{
    if (Store(FReadInterval, value)) Changed();
}
void TComTimeouts::SetReadTotalMultiplier(int32_t value)
{
    if (Store(FReadTotalMultiplier, value)) Changed();
}
void TComTimeouts::SetReadTotalConstant(int32_t value)
{
    if (Store(FReadTotalConstant, value)) Changed();
}
void TComTimeouts::SetWriteTotalMultiplier(int32_t value)
{
    if (Store(FWriteTotalMultiplier, value)) Changed();
}
void TComTimeouts::SetWriteTotalConstant(int32_t value)
{
    if (Store(FWriteTotalConstant, value)) Changed();
}

// ---- the port ----

TCustomComPort::TCustomComPort(QObject* owner)
    : QObject(owner), FParity(this), FFlowControl(this), FBuffer(this), FTimeouts(this),
      FDevice(std::make_unique<TSerialDevice>())
{
}

TCustomComPort::~TCustomComPort()
{
    try {
        ClosePort();
    } catch (const std::exception&) {
        // Destruction cannot report; release what is left regardless.
    }
    FEventWorker.reset();
    FDevice->Close();
}

void TCustomComPort::SetPort(const std::string& value)
{
    if (value == FPort) return;
    FPort = value;
    if (FConnected) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate value)
{
    if (Store(FBaudRate, value)) ApplyLineSettings();
}
void TCustomComPort::SetCustomBaudRate(int32_t value)
{
    if (Store(FCustomBaudRate, value)) ApplyLineSettings();
}
void TCustomComPort::SetDataBits(TDataBits value)
{
    if (Store(FDataBits, value)) ApplyLineSettings();
}
void TCustomComPort::SetStopBits(TStopBits value)
{
    if (Store(FStopBits, value)) ApplyLineSettings();
}
void TCustomComPort::SetDiscardNull(bool value)
{
    if (Store(FDiscardNull, value)) ApplyLineSettings();
}
void TCustomComPort::SetEventChar(char value)
{
    if (Store(FEventChar, value)) ApplyLineSettings();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value)
{
    if (value == FSyncMethod) return;
    if (FConnected) throw EComPort(CError_ConnChangeProp);
    FSyncMethod = value;
}

bool TCustomComPort::CanApply() const { return FConnected && FUpdateNesting == 0; }

void TCustomComPort::SuspendApply() { ++FUpdateNesting; }

void TCustomComPort::ResumeApply()
{
    if (FUpdateNesting == 0) return;
    if (--FUpdateNesting == 0) ApplyAllSettings();
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyBufferSizes()
{
    if (CanApply()) FDevice->ApplyQueueSizes(FBuffer.InputSize(), FBuffer.OutputSize());
}

void TCustomComPort::ApplyLineSettings()
{
    if (!CanApply()) return;
    TLineSettings config;
    config.BitRate = FBaudRate == brCustom ? FCustomBaudRate : BaudRateBits(FBaudRate);
    config.CharBits = DataBitsCount(FDataBits);
    config.Parity = FParity.Bits();
    config.StopBits = FStopBits;
    config.CheckParity = FParity.Check();
    config.RtsCtsFlow = FFlowControl.OutCTSFlow() || FFlowControl.ControlRTS() == rtsHandshake;
    config.XonXoffOut = FFlowControl.XonXoffOut();
    config.XonXoffIn = FFlowControl.XonXoffIn();
    config.XonChar = FFlowControl.XonChar();
    config.XoffChar = FFlowControl.XoffChar();
    FDevice->ApplyLine(config, FFlowControl.ControlDTR(), FFlowControl.ControlRTS());
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!CanApply()) return;
    TTimeoutValues values;
    values.ReadInterval = FTimeouts.ReadInterval();
    values.ReadTotalMultiplier = FTimeouts.ReadTotalMultiplier();
    values.ReadTotalConstant = FTimeouts.ReadTotalConstant();
    values.WriteTotalMultiplier = FTimeouts.WriteTotalMultiplier();
    values.WriteTotalConstant = FTimeouts.WriteTotalConstant();
    FDevice->ApplyTimeouts(values);
}

void TCustomComPort::SetWaitHook(std::function<void()> hook) { FDevice->SetWaitHook(std::move(hook)); }

void TCustomComPort::OpenDevice() { FDevice->Open(PortDevicePath(FPort)); }

void TCustomComPort::CloseDevice() { FDevice->Close(); }

void TCustomComPort::OpenPort()
{
    if (FConnected) return;
    DoBeforeOpen();
    OpenDevice();
    FConnected = true;
    try {
        ApplyAllSettings();
        if (FEvents != 0) {
            FEventWorker = std::make_unique<TComThread>(this, FDevice.get(), FEvents);
            if (FReadNesting > 0) FEventWorker->HoldReceived(true);
        }
    } catch (...) {
        CloseDevice();
        FConnected = false;
        throw;
    }
    DoAfterOpen();
    for (auto [signal, report] :
         {std::pair{csCTS, &TCustomComPort::DoCTSChange}, std::pair{csDSR, &TCustomComPort::DoDSRChange},
          std::pair{csRLSD, &TCustomComPort::DoRLSDChange}})
        (this->*report)((ModemSignals() & ComSignalBit(signal)) != 0);
}

void TCustomComPort::StopEventThread()
{
    if (FEventWorker) {
        FEventWorker->Stop();
        FEventWorker.reset();
    }
}

void TCustomComPort::ClosePort()
{
    if (!FConnected) return;
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
    AbortTransfers();
    StopEventThread();
    CloseDevice();
    FConnected = false;
    DoAfterClose();
}

int32_t TCustomComPort::WriteBytes(const void* buffer, int32_t count)
{
    if (!buffer && count > 0) throw EComPort(CError_InvalidAsync);
    return FDevice->Write(buffer, count);
}

TCustomComPort::TReadScope::TReadScope(TCustomComPort& port) : FComPort(port)
{
    if (FComPort.FReadNesting++ == 0 && FComPort.FEventWorker) FComPort.FEventWorker->HoldReceived(true);
}

TCustomComPort::TReadScope::~TReadScope()
{
    if (--FComPort.FReadNesting == 0 && FComPort.FEventWorker) FComPort.FEventWorker->HoldReceived(false);
}

int32_t TCustomComPort::ReadBytes(void* buffer, int32_t count)
{
    if (!buffer && count > 0) throw EComPort(CError_InvalidAsync);
    TReadScope reading(*this);
    int32_t received = FDevice->Read(buffer, count);
    QueuedInputCount();
    return received;
}

void TCustomComPort::DiscardBuffers(bool input, bool output) { FDevice->Purge(input, output); }

void TCustomComPort::AbortTransfers() { FDevice->AbortTransfers(); }

int32_t TCustomComPort::QueuedInputCount() { return FDevice->QueuedInput(); }

TComErrors TCustomComPort::LineErrors()
{
    TComErrors errors = FDevice->LineErrors();
    // Parity errors count only where parity is checked.
    if (!FParity.Check()) errors &= TComErrors(~ComErrorBit(ceRxParity));
    return errors;
}

TComSignals TCustomComPort::ModemSignals() { return FDevice->ModemSignals(); }

intptr_t TCustomComPort::DeviceHandle() const { return FDevice->Handle(); }

int32_t TCustomComPort::DeviceBaudRate() const { return FDevice->BitRate(); }

bool TCustomComPort::EventThreadRunning() const { return FEventWorker && FEventWorker->Running(); }

void TCustomComPort::customEvent(QEvent* event)
{
    if (!TComThread::Deliver(event, this)) QObject::customEvent(event);
}

void TCustomComPort::HandleEvents(TComEvents events)
{
    auto has = [events](TComEvent event) { return (events & ComEventBit(event)) != 0; };
    if (has(evError)) {
        TComErrors errors = LineErrors();
        if (errors) DoError(errors);
    }
    if (has(evRxChar)) {
        int32_t count = QueuedInputCount();
        if (count > 0) DoRxChar(count);
    }
    if (has(evTxEmpty)) DoTxEmpty();
    if (has(evBreak)) DoBreak();
    if (has(evRing)) DoRing();
    if (has(evCTS)) DoCTSChange((ModemSignals() & ComSignalBit(csCTS)) != 0);
    if (has(evDSR)) DoDSRChange((ModemSignals() & ComSignalBit(csDSR)) != 0);
    if (has(evRxFlag)) DoRxFlag();
    if (has(evRLSD)) DoRLSDChange((ModemSignals() & ComSignalBit(csRLSD)) != 0);
    if (has(evRx80Full)) DoRx80Full();
}

void TCustomComPort::DoAfterOpen()
{
    if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::DoAfterClose()
{
    if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::DoBeforeOpen()
{
    if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::DoBeforeClose()
{
    if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::DoRxChar(int32_t count)
{
    if (OnRxChar) OnRxChar(this, count);
}
void TCustomComPort::DoTxEmpty()
{
    if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::DoBreak()
{
    if (OnBreak) OnBreak(this);
}
void TCustomComPort::DoRing()
{
    if (OnRing) OnRing(this);
}
void TCustomComPort::DoRxFlag()
{
    if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::DoRx80Full()
{
    if (OnRx80Full) OnRx80Full(this);
}
void TCustomComPort::DoCTSChange(bool onOff)
{
    if (OnCTSChange) OnCTSChange(this, onOff);
}
void TCustomComPort::DoDSRChange(bool onOff)
{
    if (OnDSRChange) OnDSRChange(this, onOff);
}
void TCustomComPort::DoRLSDChange(bool onOff)
{
    if (OnRLSDChange) OnRLSDChange(this, onOff);
}
void TCustomComPort::DoError(TComErrors errors)
{
    if (OnError) OnError(this, errors);
}
