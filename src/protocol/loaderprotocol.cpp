#include "protocol/loaderprotocol.h"

#include "core/application.h"
#include "core/memstream.h"
#include "core/progress.h"
#include "core/operatorhooks.h"
#include "core/userprompt.h"
#include "protocol/hex.h"
#include "protocol/byteorder.h"
#include "serial/devicechannel.h"
#include "core/format.h"

#include <QTimer>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {
constexpr int32_t kKeepAliveIntervalMs = 1000;
constexpr int32_t kLinkSettleMs = 500; // the unit's firmware hands over to its loader
constexpr int32_t kFramePauseMs = 100; // the loader prepares for the fields that follow
constexpr int32_t kIdentityLength = 40;
constexpr int kBootAttempts = 100;

constexpr uint8_t kBlockAccepted = 0x00;
constexpr uint8_t kHostAck = 0x00;
constexpr uint8_t kEraseDone = '$';
constexpr uint8_t kEraseDeviceFailure = '%';
constexpr uint8_t kProgramFinished = '#';
constexpr uint8_t kProgramFinishedAlt = '"';

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }
uint8_t* Bytes(std::string& text) { return reinterpret_cast<uint8_t*>(text.data()); }

// One block on the line. It may hold plain image bytes, so it is wiped when
// the operation ends, however it ends.
class TBlockBuffer {
public:
    TBlockBuffer() { Data.fill(0); }
    ~TBlockBuffer() { SecureZero(Data.data(), Data.size()); }
    TBlockBuffer(const TBlockBuffer&) = delete;
    TBlockBuffer& operator=(const TBlockBuffer&) = delete;
    std::array<uint8_t, TFlashFDTDevice::kMaxBlockSize> Data;
};
}

// Marks an exchange with the unit as running, so that the keep-alive does
// not slip its "IDEN" query into it. Operations nest (every operation ends
// with a ping), so the guard restores the previous state rather than
// clearing it.
class TFlashFDTDevice::TOperationGuard {
public:
    explicit TOperationGuard(TFlashFDTDevice& device) : FDevice(device), FPrevious(device.FInOperation)
    {
        FDevice.FInOperation = true;
    }
    ~TOperationGuard() { FDevice.FInOperation = FPrevious; }
    TOperationGuard(const TOperationGuard&) = delete;
    TOperationGuard& operator=(const TOperationGuard&) = delete;

private:
    TFlashFDTDevice& FDevice;
    bool FPrevious;
};

TFlashFDTDevice::TFlashFDTDevice(QObject* owner) : QObject(owner)
{
    QObject* home = owner ? owner : this;
    FKeepAliveTimer = new QTimer(home);
    FKeepAliveTimer->setInterval(kKeepAliveIntervalMs);
    connect(FKeepAliveTimer, &QTimer::timeout, this, &TFlashFDTDevice::KeepAliveTick);
    FChannel = new TMorvexComPort(home);
    // Every reply is read by its exchange, and nothing here handles an
    // arrival of bytes: watching for them would only hold and release the
    // watch around each read, two driver calls per exchange.
    FChannel->SetEvents(AllComEvents & ~(ComEventBit(evRxChar) | ComEventBit(evRx80Full)));
    FKeepAliveTimer->start();
}

void TFlashFDTDevice::SetAddressSize(int32_t size)
{
    if (size != 2 && size != 4) throw EFDTException(Format("Address size must be 2 or 4 bytes, not %d", size));
    FAddressSize = size;
}

void TFlashFDTDevice::SetReadBlockSize(int32_t size)
{
    if (size < 1 || size > kMaxBlockSize)
        throw EFDTException(Format("Read block size must be 1 to %d bytes, not %d", kMaxBlockSize, size));
    FReadBlockSize = size;
}

void TFlashFDTDevice::SetWriteBlockSize(int32_t size)
{
    if (size < 1 || size > kMaxBlockSize)
        throw EFDTException(Format("Write block size must be 1 to %d bytes, not %d", kMaxBlockSize, size));
    FWriteBlockSize = size;
}

// ---------------------------------------------------------------- progress

void TFlashFDTDevice::SetStatus(const std::string& text)
{
    if (FStatusLabel) FStatusLabel->SetText(text);
}

void TFlashFDTDevice::StartProgress(int max)
{
    if (!FProgressBar) return;
    FProgressBar->SetRange(0, max);
    FProgressBar->SetStep(1);
    FProgressBar->SetPosition(0);
}

void TFlashFDTDevice::StepProgress(int delta)
{
    if (FProgressBar) FProgressBar->SetPosition(FProgressBar->Position() + delta);
}

// ------------------------------------------------------------ connection

void TFlashFDTDevice::EstablishLink(const TConnectInfo& info)
{
    TOperationGuard operation(*this);
    if (!info.ConnectPort || !info.ProgramPort) throw EFDTException("Connection settings are missing");
    FChannel->SetPort(info.ConnectPort->Port());
    FChannel->CopySettingsFrom(*info.ConnectPort);
    if (info.Method == kBootMethod)
        ConnectBoot(info);
    else if (info.Method == kUserMethod)
        ConnectUser(info);
    FChannel->WaitMs(kLinkSettleMs);
    ChangeSpeed(info);
    Ping();
}

void TFlashFDTDevice::ConnectUser(const TConnectInfo& info)
{
    SetStatus("Connecting...");
    StartProgress(1);
    std::string reply(info.ConnectReply.size(), '\0');
    try {
        FChannel->TransactPlain(Bytes(info.ConnectCommand), static_cast<int32_t>(info.ConnectCommand.size()),
                                static_cast<int32_t>(reply.size()), Bytes(reply));
    } catch (const std::exception&) {
        // The firmware may be anything but our loader: whatever went wrong,
        // to the operator it is a unit that did not answer.
        throw EFDTException("No reply to start command", TFailureCause::NoReply);
    }
    if (reply != info.ConnectReply) throw EFDTException("Reply doesn't match");
    StepProgress(1);
}

namespace {
// Hides the operator prompt whichever way the boot method ends.
class TPromptShown {
public:
    TPromptShown(TUserPrompt* prompt, const std::string& text) : FPrompt(prompt)
    {
        if (FPrompt) FPrompt->ShowPrompt(text);
    }
    ~TPromptShown()
    {
        if (FPrompt) FPrompt->HidePrompt();
    }
    TPromptShown(const TPromptShown&) = delete;
    TPromptShown& operator=(const TPromptShown&) = delete;
    bool Cancelled() const { return FPrompt && FPrompt->PromptCancelled(); }

private:
    TUserPrompt* FPrompt;
};
}

void TFlashFDTDevice::ConnectBoot(const TConnectInfo& info)
{
    SetStatus("Connecting...");
    StartProgress(kBootAttempts);
    FChannel->SetReplyTimeout(FTimeouts.ConnectAttempt);
    bool mismatchSeen = false;
    TPromptShown prompt(info.Prompt, "Reset the Unit");
    for (int attempt = 0; attempt < kBootAttempts; ++attempt) {
        std::string reply(info.ConnectReply.size(), '\0');
        try {
            FChannel->TransactPlain(Bytes(info.ConnectCommand), static_cast<int32_t>(info.ConnectCommand.size()),
                                    static_cast<int32_t>(reply.size()), Bytes(reply));
            if (reply == info.ConnectReply) {
                StartProgress(1);
                StepProgress(1);
                return;
            }
            mismatchSeen = true;
        } catch (const EMorvexComTimeout&) {
            // Let the prompt's Cancel button act between attempts.
            ProcessMessages();
        }
        if (prompt.Cancelled()) throw EFDTException("Connect Cancelled by User", TFailureCause::Cancelled);
        StepProgress(1);
    }
    if (mismatchSeen) throw EFDTException("Unexpected reply to connect command");
    throw EFDTException("No reply to connect command", TFailureCause::NoReply);
}

void TFlashFDTDevice::ChangeSpeed(const TConnectInfo& info)
{
    FChannel->SetReplyTimeout(FTimeouts.Reply);
    FChannel->ResetScramble();
    FChannel->SetParity(info.ProgramPort->Parity());
    FChannel->SetDataBits(info.ProgramPort->DataBits());
    FChannel->SetStopBits(info.ProgramPort->StopBits());

    const uint8_t request[2] = {'D', 0x05};
    uint8_t unitByte = 0;
    FChannel->TransactScrambled(request, 2, 1, &unitByte);
    const uint8_t divisor = ComputeDivisor(unitByte, FChannel->ActualBaudRate(), info.ProgramPort->ActualBaudRate());
    FChannel->SendScrambled(&divisor, 1);
    FChannel->CopySettingsFrom(*info.ProgramPort);

    static const uint8_t kEcho[5] = {'A', 'B', 'C', 'D', 'E'};
    uint8_t echo[5] = {};
    FChannel->TransactScrambled(kEcho, 5, 5, echo);
    if (std::memcmp(echo, kEcho, 5) != 0) throw EFDTException("Acknowledge data doesn't match");
}

uint8_t TFlashFDTDevice::ComputeDivisor(uint8_t reply, int32_t currentRate, int32_t newRate)
{
    if (currentRate <= 0 || newRate <= 0)
        throw EFDTException(Format("Cannot change the bit rate from %d to %d", currentRate, newRate));
    // The loader's arithmetic: an extended-precision quotient, the product
    // rounded to single precision, then truncated toward zero.
    const long double quotient = static_cast<long double>(currentRate) / static_cast<long double>(newRate);
    const float product = static_cast<float>(quotient * reply);
    return static_cast<uint8_t>(static_cast<int64_t>(std::trunc(product)) & 0xFF);
}

// -------------------------------------------------------------- identity

void TFlashFDTDevice::ReadIdentity(std::string& text)
{
    TOperationGuard operation(*this);
    uint8_t reply[kIdentityLength] = {};
    SendCommandAndRead("IDEN", reply, kIdentityLength);
    const uint8_t* end = std::find(reply, reply + kIdentityLength, 0);
    text.assign(reinterpret_cast<const char*>(reply), static_cast<size_t>(end - reply));
}

void TFlashFDTDevice::Ping()
{
    std::string discarded;
    ReadIdentity(discarded);
}

void TFlashFDTDevice::KeepAliveTick()
{
    if (!FChannel->Connected() || FInOperation) return;
    try {
        Ping();
    } catch (const std::exception& failure) {
        // Stop first: the operator may show a modal box whose event loop
        // would otherwise run this tick again.
        FKeepAliveTimer->stop();
        InstalledOperatorHooks().BackgroundFailure(failure);
    }
}

void TFlashFDTDevice::ParseIdentity(const std::string& text, std::string& name, uint16_t& seed, uint32_t& start,
                                    uint32_t& size)
{
    std::string rest = text;
    // A unit whose identity does not read as one is not the unit the image
    // is for, whichever field gives it away.
    auto nextField = [&rest]() -> uint32_t {
        const size_t colon = rest.find(':');
        if (colon == std::string::npos) throw EConvertError("Bad Device Identity String", TFailureCause::WrongUnit);
        const std::string field = rest.substr(0, colon);
        rest.erase(0, colon + 1);
        try {
            return HexToInt(field);
        } catch (const EConvertError& notHex) {
            throw EConvertError(notHex.Message(), TFailureCause::WrongUnit);
        }
    };
    seed = static_cast<uint16_t>(nextField() & 0xFFFF);
    start = nextField();
    size = nextField();
    const size_t lineFeed = rest.find('\n');
    if (lineFeed != std::string::npos) rest.erase(lineFeed, 1);
    name = rest;
}

bool TFlashFDTDevice::CheckImageChecksum(TMemoryStream& image, uint16_t seed)
{
    image.SetPosition(0);
    const int64_t size = image.Size();
    uint16_t sum = seed;
    if (size >= 3) {
        const uint8_t* bytes = image.Memory();
        for (int64_t i = 0; i < size - 2; ++i) sum = static_cast<uint16_t>(sum + bytes[i]);
        image.SetPosition(size - 2);
    }
    uint8_t stored[2];
    image.ReadBuffer(stored, 2);
    return sum == ((stored[0] << 8) | stored[1]);
}

// ------------------------------------------------------- flash operations

void TFlashFDTDevice::EraseFlash(uint32_t start, uint32_t end)
{
    TOperationGuard operation(*this);
    SetStatus("Erasing FLASH...");
    StartProgress(1);
    SendCommand("ERAS");
    FChannel->WaitMs(kFramePauseMs);
    SendValue(start);
    FChannel->SetReplyTimeout(FTimeouts.Transfer);
    uint8_t status = 0;
    try {
        SendValueAndRead(end - start, &status, 1);
    } catch (...) {
        // Leave the channel at the usual time-out whatever happened; the
        // original failure is the one to report.
        try {
            FChannel->SetReplyTimeout(FTimeouts.Reply);
        } catch (...) {
        }
        throw;
    }
    FChannel->SetReplyTimeout(FTimeouts.Reply);
    if (status == kEraseDeviceFailure) throw EFDTException("Erase Failed: Device Failure");
    if (status != kEraseDone) throw EFDTException("Erase Failed: Unexpected Reply");
    Ping();
    StepProgress(1);
}

void TFlashFDTDevice::WriteFlash(TMemoryStream& image, uint32_t start)
{
    TOperationGuard operation(*this);
    const int32_t size = static_cast<int32_t>(image.Size());
    SetStatus("Programming FLASH...");
    StartProgress(size);
    SendCommand("PROG");
    FChannel->WaitMs(kFramePauseMs);
    SendValue(start);
    SendValue(static_cast<uint32_t>(size));
    FChannel->WaitMs(kFramePauseMs);

    FChannel->SetReplyTimeout(FTimeouts.Transfer);
    image.SetPosition(0);
    int32_t remaining = size;
    TBlockBuffer block;
    bool finishedEarly = false;
    while (remaining > 0) {
        const int32_t count = std::min(remaining, FWriteBlockSize);
        image.ReadBuffer(block.Data.data(), count);
        uint8_t status = 0;
        try {
            FChannel->TransactScrambled(block.Data.data(), count, 1, &status);
        } catch (const std::exception&) {
            throw EFDTException("Write Failed: No reply", TFailureCause::NoReply);
        }
        if (status == kProgramFinished) {
            finishedEarly = true;
            break;
        }
        if (status != kBlockAccepted) throw EFDTException("Write Failed: Unexpected response");
        StepProgress(count);
        remaining -= count;
        ProcessMessages();
        if (remaining > 0) SendAck();
    }
    if (!finishedEarly) {
        uint8_t status = 0;
        try {
            FChannel->TransactScrambled(&kHostAck, 1, 1, &status);
        } catch (const std::exception&) {
            throw EFDTException("Write Failed: Unexpected response");
        }
        if (status != kProgramFinished && status != kProgramFinishedAlt)
            throw EFDTException("Write Failed: Unexpected response");
    }
    Ping();
}

void TFlashFDTDevice::ReadRange(TMemoryStream& stream, uint32_t start, uint32_t end)
{
    TOperationGuard operation(*this);
    if (end < start) throw EFDTException(Format("Cannot read from 0x%x up to 0x%x", start, end));
    const int32_t length = static_cast<int32_t>(end - start);
    SetStatus("Reading contents of FLASH...");
    StartProgress(length);
    SendCommand("READ");
    FChannel->WaitMs(kFramePauseMs);
    FChannel->SetReplyTimeout(FTimeouts.Reply);
    SendValue(start);

    TBlockBuffer block;
    int32_t count = std::min(length, FReadBlockSize);
    SendValueAndRead(static_cast<uint32_t>(length), block.Data.data(), count);
    stream.Clear();
    int32_t remaining = length;
    while (remaining > 0) {
        stream.WriteBuffer(block.Data.data(), count);
        StepProgress(count);
        remaining -= count;
        ProcessMessages();
        if (remaining > 0) {
            count = std::min(remaining, FReadBlockSize);
            try {
                FChannel->TransactScrambled(&kHostAck, 1, count, block.Data.data());
            } catch (const std::exception&) {
                throw EFDTException("Read Failed: No reply", TFailureCause::NoReply);
            }
        }
    }
    SendAck();
    Ping();
}

void TFlashFDTDevice::ResetDevice()
{
    TOperationGuard operation(*this);
    SendCommand("RSET");
}

// ---------------------------------------------------------------- fields

namespace {
static_assert(std::endian::native == std::endian::little,
              "the byte swap puts fields most significant byte first only on little-endian hosts");

// Returns the number of field bytes placed in bytes[0..3].
int32_t EncodeField(uint32_t value, int32_t addressSize, uint8_t* bytes)
{
    if (addressSize == 2) {
        const uint16_t word = SwapWord(static_cast<uint16_t>(value));
        std::memcpy(bytes, &word, 2);
        return 2;
    }
    const uint32_t swapped = SwapLong(value);
    std::memcpy(bytes, &swapped, 4);
    return 4;
}
}

void TFlashFDTDevice::SendValue(uint32_t value)
{
    uint8_t bytes[4];
    const int32_t count = EncodeField(value, FAddressSize, bytes);
    FChannel->SendScrambled(bytes, count);
}

void TFlashFDTDevice::SendValueAndRead(uint32_t value, uint8_t* reply, int32_t replyLength)
{
    uint8_t bytes[4];
    const int32_t count = EncodeField(value, FAddressSize, bytes);
    FChannel->TransactScrambled(bytes, count, replyLength, reply);
}

void TFlashFDTDevice::SendCommand(const char* word)
{
    FChannel->SendScrambled(reinterpret_cast<const uint8_t*>(word), 4);
}

void TFlashFDTDevice::SendCommandAndRead(const char* word, uint8_t* reply, int32_t replyLength)
{
    FChannel->TransactScrambled(reinterpret_cast<const uint8_t*>(word), 4, replyLength, reply);
}

void TFlashFDTDevice::SendAck() { FChannel->SendScrambled(&kHostAck, 1); }
