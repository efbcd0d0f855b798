// The serial port component: one RS-232 port of the PC with its line
// settings, exclusive open and close, blocking reads and writes bounded by
// the driver time-outs, purge and status queries, and an event thread that
// watches the line while the port is open.
#pragma once

#include "serial/serialtypes.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Bits per second of a TBaudRate value (brCustom has none of its own: 0).
int32_t BaudRateBits(TBaudRate rate);
// Character size of a TDataBits value: 5 to 8.
int32_t DataBitsCount(TDataBits bits);

class TCustomComPort;
class TComThread;
class TSerialDevice;

// Parity settings of a port.
class TComParity {
public:
    explicit TComParity(TCustomComPort* port = nullptr) : FComPort(port) {}
    TComParity(const TComParity&) = delete;
    // Copies every field, then re-applies the owner's line settings once.
    TComParity& operator=(const TComParity& source);

    TParityBits Bits() const { return FBits; }
    void SetBits(TParityBits value);
    bool Check() const { return FCheck; }
    void SetCheck(bool value);
    bool Replace() const { return FReplace; }
    void SetReplace(bool value);
    char ReplaceChar() const { return FReplaceChar; }
    void SetReplaceChar(char value);

private:
    void Changed();
    TCustomComPort* FComPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

// Flow-control settings of a port, with the TFlowControl shorthand.
class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* port = nullptr) : FComPort(port) {}
    TComFlowControl(const TComFlowControl&) = delete;
    TComFlowControl& operator=(const TComFlowControl& source);

    bool OutCTSFlow() const { return FOutCTSFlow; }
    void SetOutCTSFlow(bool value);
    bool OutDSRFlow() const { return FOutDSRFlow; }
    void SetOutDSRFlow(bool value);
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    void SetControlDTR(TDTRFlowControl value);
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    void SetControlRTS(TRTSFlowControl value);
    bool XonXoffOut() const { return FXonXoffOut; }
    void SetXonXoffOut(bool value);
    bool XonXoffIn() const { return FXonXoffIn; }
    void SetXonXoffIn(bool value);
    bool DSRSensitivity() const { return FDSRSensitivity; }
    void SetDSRSensitivity(bool value);
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetTxContinueOnXoff(bool value);
    char XonChar() const { return FXonChar; }
    void SetXonChar(char value);
    char XoffChar() const { return FXoffChar; }
    void SetXoffChar(char value);

    // The shorthand, computed from and written into the fields above.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl value);

private:
    void Changed();
    TCustomComPort* FComPort;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
};

// Driver queue sizes of a port. Odd positive sizes are lowered by one.
class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* port = nullptr) : FComPort(port) {}
    TComBuffer(const TComBuffer&) = delete;
    TComBuffer& operator=(const TComBuffer&) = delete;

    int32_t InputSize() const { return FInputSize; }
    void SetInputSize(int32_t value);
    int32_t OutputSize() const { return FOutputSize; }
    void SetOutputSize(int32_t value);

private:
    TCustomComPort* FComPort;
    int32_t FInputSize = 1024;
    int32_t FOutputSize = 1024;
};

// Read and write time-outs of a port, in milliseconds. ReadInterval -1
// (all bits set) with both read totals 0 makes a read return at once with
// whatever is queued.
class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* port = nullptr) : FComPort(port) {}
    TComTimeouts(const TComTimeouts&) = delete;
    TComTimeouts& operator=(const TComTimeouts&) = delete;

    int32_t ReadInterval() const { return FReadInterval; }
    void SetReadInterval(int32_t value);
    int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    void SetReadTotalMultiplier(int32_t value);
    int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    void SetReadTotalConstant(int32_t value);
    int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    void SetWriteTotalMultiplier(int32_t value);
    int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetWriteTotalConstant(int32_t value);

private:
    void Changed();
    TCustomComPort* FComPort;
    int32_t FReadInterval = -1;
    int32_t FReadTotalMultiplier = 0;
    int32_t FReadTotalConstant = 0;
    int32_t FWriteTotalMultiplier = 100;
    int32_t FWriteTotalConstant = 1000;
};

// Event properties: empty functions are not called.
using TNotifyEvent = std::function<void(QObject* sender)>;
using TRxCharEvent = std::function<void(QObject* sender, int32_t count)>;
using TComSignalEvent = std::function<void(QObject* sender, bool onOff)>;
using TComErrorEvent = std::function<void(QObject* sender, TComErrors errors)>;

class TCustomComPort : public QObject {
    Q_OBJECT
public:
    explicit TCustomComPort(QObject* owner = nullptr);
    ~TCustomComPort() override; // closes the port first

    std::string Port() const { return FPort; }
    void SetPort(const std::string& value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate value);
    int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int32_t value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits value);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool value);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char value);
    TComParity& Parity() { return FParity; }
    const TComParity& Parity() const { return FParity; }
    void SetParity(const TComParity& value) { FParity = value; }
    TComFlowControl& FlowControl() { return FFlowControl; }
    const TComFlowControl& FlowControl() const { return FFlowControl; }
    void SetFlowControl(const TComFlowControl& value) { FFlowControl = value; }
    TComBuffer& Buffer() { return FBuffer; }
    const TComBuffer& Buffer() const { return FBuffer; }
    TComTimeouts& Timeouts() { return FTimeouts; }
    const TComTimeouts& Timeouts() const { return FTimeouts; }
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents value) { FEvents = value; } // takes effect at the next open
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod value); // EComPort code 14 while open

    bool Connected() const { return FConnected; }
    void OpenPort();
    void ClosePort();

    // Bracket a group of setting changes: nothing reaches the device until
    // the outermost ResumeApply, which applies everything once.
    void SuspendApply();
    void ResumeApply();

    // Blocking transfers bounded by the Timeouts; they return the count
    // actually transferred (short when the time-out ended the transfer).
    int32_t WriteBytes(const void* buffer, int32_t count);
    int32_t ReadBytes(void* buffer, int32_t count);
    void DiscardBuffers(bool input, bool output);
    void AbortTransfers();
    int32_t QueuedInputCount();
    TComErrors LineErrors();
    TComSignals ModemSignals();

    // The open device's system handle as a number (a descriptor, a
    // HANDLE's value), or -1 while closed.
    intptr_t DeviceHandle() const;
    // The bit rate the open device reports it runs at (read back from the
    // driver), or 0 while closed.
    int32_t DeviceBaudRate() const;
    // True while an event thread watches the open port.
    bool EventThreadRunning() const;

    // Event properties (none is assigned in the programmer itself).
    TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    TRxCharEvent OnRxChar;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;

    virtual void ApplyAllSettings();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSizes();

protected:
    // Brackets a caller's wait for bytes it is about to read itself: the
    // event thread is not woken for their arrival, which would only find
    // them taken (bytes still queued at the end are reported then).
    class TReadScope {
    public:
        explicit TReadScope(TCustomComPort& port);
        ~TReadScope();
        TReadScope(const TReadScope&) = delete;
        TReadScope& operator=(const TReadScope&) = delete;

    private:
        TCustomComPort& FComPort;
    };

    virtual void OpenDevice();
    virtual void CloseDevice();
    // What a read runs while it waits for its bytes (see TSerialDevice).
    void SetWaitHook(std::function<void()> hook);
    void customEvent(QEvent* event) override; // the event thread's hand-overs

    // Dispatchers: each calls its event property when one is assigned.
    virtual void DoAfterOpen();
    virtual void DoAfterClose();
    virtual void DoBeforeOpen();
    virtual void DoBeforeClose();
    virtual void DoRxChar(int32_t count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoRx80Full();
    virtual void DoCTSChange(bool onOff);
    virtual void DoDSRChange(bool onOff);
    virtual void DoRLSDChange(bool onOff);
    virtual void DoError(TComErrors errors);

private:
    friend class TComThread;
    bool CanApply() const;
    // The handling of one batch of events on the port's own thread.
    void HandleEvents(TComEvents events);
    void StopEventThread();

    std::string FPort = "COM1";
    TBaudRate FBaudRate = br9600;
    int32_t FCustomBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    bool FDiscardNull = false;
    char FEventChar = 0;
    TComParity FParity;
    TComFlowControl FFlowControl;
    TComBuffer FBuffer;
    TComTimeouts FTimeouts;
    TComEvents FEvents = AllComEvents;
    TSyncMethod FSyncMethod = smThreadSync;

    bool FConnected = false;
    int32_t FUpdateNesting = 0;
    int32_t FReadNesting = 0;
    std::unique_ptr<TSerialDevice> FDevice;
    std::unique_ptr<TComThread> FEventWorker;
};

// The publishing kind; every serial object of the programmer is one.
class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    explicit TComPort(QObject* owner = nullptr) : TCustomComPort(owner) {}
};
