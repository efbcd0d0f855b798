// The port's enumerations, the sets built on them and the port's error:
// what the component and its platform backends share, so that no backend
// needs the component itself.
#pragma once

#include "core/exceptions.h"

#include <cstdint>

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

// Line events; a TComEvents set holds bit n for the event of ordinal n.
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = uint16_t;
constexpr TComEvents ComEventBit(TComEvent event) { return TComEvents(1u << event); }
constexpr TComEvents AllComEvents = 1023;

// Line errors; a TComErrors set holds bit n for the error of ordinal n.
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = uint16_t;
constexpr TComErrors ComErrorBit(TComError error) { return TComErrors(1u << error); }

// Modem input lines; a TComSignals set holds bit n for the signal of ordinal n.
enum TComSignal { csCTS, csDSR, csRing, csRLSD };
using TComSignals = uint8_t;
constexpr TComSignals ComSignalBit(TComSignal signal) { return TComSignals(1u << signal); }

// A failed platform call of the serial port. The message is the text of the
// code, followed by " (win error code: N)" when there is a system error
// number (errno on Linux, GetLastError on Windows; the text is the same on
// both). A refused open whose cause the operator can mend (no permission, a
// port in use, no such device) has a second line, after a "\n", naming the
// cause and the remedy.
class EComPort : public Exception {
public:
    explicit EComPort(int32_t code, int32_t systemError = -1);
    int32_t MessageCode() const { return FMessageCode; }
    int32_t SystemErrorCode() const { return FSystemErrorCode; }

private:
    int32_t FMessageCode;
    int32_t FSystemErrorCode;
};

// Codes of EComPort.
enum : int32_t {
    CError_OpenFailed = 1,
    CError_WriteFailed,
    CError_ReadFailed,
    CError_InvalidAsync,
    CError_PurgeFailed,
    CError_AsyncCheck,
    CError_SetStateFailed,
    CError_TimeoutsFailed,
    CError_SetupComFailed,
    CError_ClearComFailed,
    CError_ModemStatFailed,
    CError_EscapeComFailed,
    CError_TransmitFailed,
    CError_ConnChangeProp,
    CError_EnumPortsFailed,
    CError_StoreFailed,
    CError_LoadFailed,
    CError_RegFailed,
    CError_LedStateFailed,
    CError_ThreadCreated,
    CError_WaitFailed,
    CError_HasLink,
    CError_RegError
};
