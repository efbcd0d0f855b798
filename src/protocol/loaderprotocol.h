// The host side of the command protocol spoken with the flash loader of a
// unit's micro-controller: the connection (user and boot method), the
// speed change into the scrambled link, the identity query and the flash
// operations (erase, program, read, reset), with the keep-alive that proves
// the loader is still in step between operations.
#pragma once

#include "core/exceptions.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <string>

class QTimer;
class TMemoryStream;
class TMorvexComPort;
class TProgressView;
class TStatusText;
class TUserPrompt;

// A protocol failure, or an image size or checksum that does not fit the unit.
class EFDTException : public Exception {
public:
    using Exception::Exception;
};

// How to reach the unit. The two ports only hold settings and are never
// opened; the texts travel unscrambled.
struct TConnectInfo {
    uint8_t Method = 0;                    // 0 = boot method, 1 = user method
    TMorvexComPort* ConnectPort = nullptr; // port name and settings of the handshake
    TMorvexComPort* ProgramPort = nullptr; // settings switched to by the speed change
    std::string ConnectCommand;            // sent to bring the unit into its loader
    std::string ConnectReply;              // what the unit must answer
    TUserPrompt* Prompt = nullptr;         // shown while the operator resets the unit
};

enum : uint8_t { kBootMethod = 0, kUserMethod = 1 };

// The reply time-outs, in milliseconds, that the operations set on the
// channel. Tests that provoke a missing reply may shorten them.
struct TFDTTimeouts {
    int32_t ConnectAttempt = 100; // one boot-method attempt
    int32_t Reply = 500;          // speed change, identity, read blocks
    int32_t Transfer = 5000;      // erase status and program block status
};

class TFlashFDTDevice : public QObject {
    Q_OBJECT
public:
    static constexpr int32_t kMaxBlockSize = 256;

    // The channel and the keep-alive timer are created with the same owner
    // as this object (the flash target), so they live as long as it does.
    // Without an owner they belong to this object.
    explicit TFlashFDTDevice(QObject* owner);

    TMorvexComPort* Channel() const { return FChannel; }
    QTimer* KeepAliveTimer() const { return FKeepAliveTimer; }
    bool InOperation() const { return FInOperation; }

    TStatusText* StatusLabel() const { return FStatusLabel; }
    void SetStatusLabel(TStatusText* label) { FStatusLabel = label; }
    TProgressView* ProgressBar() const { return FProgressBar; }
    void SetProgressBar(TProgressView* bar) { FProgressBar = bar; }

    int32_t AddressSize() const { return FAddressSize; }
    void SetAddressSize(int32_t size);
    int32_t ReadBlockSize() const { return FReadBlockSize; }
    void SetReadBlockSize(int32_t size);
    int32_t WriteBlockSize() const { return FWriteBlockSize; }
    void SetWriteBlockSize(int32_t size);

    TFDTTimeouts& Timeouts() { return FTimeouts; }

    // Connection: from running firmware or reset into the loader, then the
    // speed change and a ping. The channel must already be open.
    void EstablishLink(const TConnectInfo& info);
    void ConnectUser(const TConnectInfo& info);
    void ConnectBoot(const TConnectInfo& info);
    void ChangeSpeed(const TConnectInfo& info);
    static uint8_t ComputeDivisor(uint8_t reply, int32_t currentRate, int32_t newRate);

    // The identity query; the text ends before the first 0x00 byte.
    void ReadIdentity(std::string& text);
    void Ping();

    // Flash operations, valid once the link is established.
    static void ParseIdentity(const std::string& text, std::string& name, uint16_t& seed, uint32_t& start,
                              uint32_t& size);
    static bool CheckImageChecksum(TMemoryStream& image, uint16_t seed);
    void EraseFlash(uint32_t start, uint32_t end);
    void WriteFlash(TMemoryStream& image, uint32_t start);
    void ReadRange(TMemoryStream& stream, uint32_t start, uint32_t end);
    void ResetDevice();

    // Address and length fields, most significant byte first.
    void SendValue(uint32_t value);
    void SendValueAndRead(uint32_t value, uint8_t* reply, int32_t replyLength);

    void SetStatus(const std::string& text);
    void StartProgress(int max);
    void StepProgress(int delta);

public slots:
    void KeepAliveTick();

private:
    class TOperationGuard;
    void SendCommand(const char* word);
    void SendCommandAndRead(const char* word, uint8_t* reply, int32_t replyLength);
    void SendAck();

    bool FInOperation = false;
    QTimer* FKeepAliveTimer = nullptr;
    TMorvexComPort* FChannel = nullptr;
    TStatusText* FStatusLabel = nullptr;
    TProgressView* FProgressBar = nullptr;
    int32_t FAddressSize = 2;
    int32_t FReadBlockSize = 32;
    int32_t FWriteBlockSize = 128;
    TFDTTimeouts FTimeouts;
};
