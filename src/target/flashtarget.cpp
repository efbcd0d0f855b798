#include "target/flashtarget.h"

#include "core/memstream.h"
#include "core/operatorhooks.h"
#include "protocol/compare.h"
#include "serial/devicechannel.h"

namespace {
constexpr uint8_t kPadByte = 0xFF;
// How many differing addresses a failed comparison names: enough to tell
// one stray byte from a whole other image, short enough for one log line.
constexpr size_t kDifferencesNamed = 8;

// The interactive comparison when nobody supplied message boxes: it shows
// nothing, and its No to the first difference lets it merely count the rest.
class TSilentDialogs : public TMessageDialogs {
public:
    TModalResult MessageDlg(const std::string&, TMsgDlgType, TMsgDlgButtons buttons) override
    {
        return buttons == mbYesNoCancel ? mrNo : mrOk;
    }
};

void SetDefaultLineSettings(TMorvexComPort& port)
{
    port.SetPort("COM1");
    port.SetBaudRate(br9600);
    port.SetDataBits(dbEight);
    port.SetStopBits(sbOneStopBit);
    port.Parity().SetBits(prNone);
}
}

THitachiFlash::THitachiFlash(QObject* owner) : QObject(owner)
{
    FDevice = new TFlashFDTDevice(this);
    FDevice->SetAddressSize(2);
    FDevice->SetReadBlockSize(32);
    FDevice->SetWriteBlockSize(128);
    FConnectInfo.ConnectPort = new TMorvexComPort(this);
    FConnectInfo.ProgramPort = new TMorvexComPort(this);
    FConnectInfo.Prompt = InstalledOperatorHooks().CreatePrompt(this);
    SetDefaults();
}

void THitachiFlash::SetUserCommand() { FConnectInfo.ConnectCommand.clear(); }

void THitachiFlash::SetDefaults()
{
    FConnectInfo.Method = kBootMethod;
    SetDefaultLineSettings(*FConnectInfo.ConnectPort);
    SetDefaultLineSettings(*FConnectInfo.ProgramPort);
    FConnectInfo.ConnectCommand = ConnectWord;
    FConnectInfo.ConnectReply = ReplyWord;
}

void THitachiFlash::SetConnectInfo(const TConnectInfo& info)
{
    FConnectInfo.Method = info.Method;
    if (info.ConnectPort) {
        // The boot method always talks at the default settings: only the
        // caller's port name counts. The user method talks to the running
        // firmware at whatever settings the operator chose.
        FConnectInfo.ConnectPort->SetPort(info.ConnectPort->Port());
        if (info.Method == kUserMethod) FConnectInfo.ConnectPort->CopySettingsFrom(*info.ConnectPort);
    }
    FConnectInfo.ProgramPort->SetPort(FConnectInfo.ConnectPort->Port());
    if (info.Method == kBootMethod) {
        FConnectInfo.ConnectCommand = ConnectWord;
        FConnectInfo.ConnectReply = ReplyWord;
    } else if (info.Method == kUserMethod) {
        SetUserCommand();
        FConnectInfo.ConnectReply = ReplyWord;
    }
}

void THitachiFlash::SetModelArea(uint32_t start, uint32_t size)
{
    FFlashStart = start;
    FFlashSize = size;
    FDevice->SetAddressSize(4);
    FDevice->SetReadBlockSize(32);
    FDevice->SetWriteBlockSize(128);
}

// ------------------------------------------------------------------- steps

void THitachiFlash::Connect()
{
    TMorvexComPort& channel = *FDevice->Channel();
    try {
        channel.SetPort(FConnectInfo.ConnectPort->Port());
        channel.CopySettingsFrom(*FConnectInfo.ConnectPort);
        channel.OpenPort();
        FDevice->EstablishLink(FConnectInfo);
        CheckIdentity();
    } catch (...) {
        // A unit that did not connect is not in its loader: an open channel
        // would only let the keep-alive query it and keep the port locked
        // while the operator decides what to do next.
        try {
            channel.ClosePort();
        } catch (...) {
        }
        throw;
    }
}

void THitachiFlash::Check(TMemoryStream& image)
{
    TMemoryStream area;
    ExtractUserArea(image, area);
    ValidateImage(area);
}

void THitachiFlash::Erase() { FDevice->EraseFlash(FFlashStart, FFlashStart + FFlashSize); }

void THitachiFlash::Program(TMemoryStream& image)
{
    TMemoryStream area;
    ExtractUserArea(image, area);
    PadToBlock(area, FDevice->WriteBlockSize());
    ValidateImage(area);
    FDevice->WriteFlash(area, FFlashStart);
}

void THitachiFlash::Verify(TMemoryStream& image) { VerifyImage(image, true); }

void THitachiFlash::Reset() { FDevice->ResetDevice(); }

void THitachiFlash::ClosePort() { FDevice->Channel()->ClosePort(); }

// ------------------------------------------------------ internal operations

void THitachiFlash::GetIdentity(std::string& name, uint16_t& seed, uint32_t& start, uint32_t& size)
{
    std::string identity;
    FDevice->ReadIdentity(identity);
    FIdentityText = identity;
    TFlashFDTDevice::ParseIdentity(identity, name, seed, start, size);
}

void THitachiFlash::CheckIdentity()
{
    std::string name;
    uint16_t seed = 0;
    uint32_t start = 0;
    uint32_t size = 0;
    GetIdentity(name, seed, start, size);
    if (start != FFlashStart || size != FFlashSize)
        throw EHitachiFlashException("Flash uP does not match definition", TFailureCause::WrongUnit);
    FConnectIdentity = FIdentityText;
}

void THitachiFlash::ExtractUserArea(TMemoryStream& image, TMemoryStream& dest)
{
    image.SetPosition(FFlashStart);
    if (static_cast<int64_t>(FFlashStart) < image.Size()) dest.CopyFrom(image, image.Size() - FFlashStart);
}

void THitachiFlash::PadToBlock(TMemoryStream& data, int32_t blockSize)
{
    const int64_t size = data.Size();
    if (size % blockSize != 0) PadStream(data, static_cast<int32_t>((size / blockSize + 1) * blockSize), kPadByte);
}

void THitachiFlash::ValidateImage(TMemoryStream& area)
{
    std::string name;
    uint16_t seed = 0;
    uint32_t start = 0;
    uint32_t size = 0;
    GetIdentity(name, seed, start, size);
    if (area.Size() != static_cast<int64_t>(size))
        throw EFDTException("Flash Size doesn't match Image Size", TFailureCause::ImageInvalid);
    if (!TFlashFDTDevice::CheckImageChecksum(area, seed))
        throw EFDTException("Flash and Image Checksums don't match", TFailureCause::ImageInvalid);
}

void THitachiFlash::ReadFlashArea(TMemoryStream& dest, uint32_t start, uint32_t count)
{
    const uint32_t blockSize = static_cast<uint32_t>(FDevice->ReadBlockSize());
    const uint32_t whole = (count + blockSize - 1) / blockSize * blockSize;
    FDevice->ReadRange(dest, start, start + whole);
    dest.SetSize(count);
}

void THitachiFlash::ReadUserArea(TMemoryStream& dest) { ReadFlashArea(dest, FFlashStart, FFlashSize); }

void THitachiFlash::VerifyImage(TMemoryStream& image, bool raiseOnMismatch)
{
    TMemoryStream area;
    TMemoryStream flash;
    ExtractUserArea(image, area);
    ReadUserArea(flash);
    CompareAreas(area, flash, raiseOnMismatch);
}

void THitachiFlash::CompareAreas(TMemoryStream& area, TMemoryStream& flash, bool raiseOnMismatch)
{
    if (raiseOnMismatch) {
        FDifferences = FindDifferences(area, flash, kDifferencesNamed);
        for (int64_t& offset : FDifferences.First) offset += FFlashStart;
        VerifyBuffers(area, flash);
        return;
    }
    TSilentDialogs silent;
    CompareBuffers(area, flash, FCompareDialogs ? *FCompareDialogs : static_cast<TMessageDialogs&>(silent));
}
