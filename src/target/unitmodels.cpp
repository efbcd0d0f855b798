#include "target/unitmodels.h"

#include "core/memstream.h"
#include "serial/devicechannel.h"

namespace {
// 0x02, "PF" and four digits, 0x03: what the running firmware of most
// models takes as the order to enter its flash loader.
std::string FirmwareCommand(const char* digits) { return std::string("\x02PF") + digits + "\x03"; }

std::unique_ptr<THitachiFlash> NewTarget(uint32_t unitType)
{
    switch (unitType) {
    case 0: return std::make_unique<TMorvexProgrammerFlash>();
    case 1: return std::make_unique<TMorvex3810Flash>();
    case 2: return std::make_unique<TMorvex3810DpyFlash>();
    case 3: return std::make_unique<TMorvex4620Flash>();
    case 4: return std::make_unique<TMorvex4650Flash>();
    case 5: return std::make_unique<TMorvex7100Flash>();
    case 6: return std::make_unique<TDW4710Flash>();
    case 7: return std::make_unique<TMorvex7300Flash>();
    case 8: return std::make_unique<TMorvex7310Flash>();
    case 9: return std::make_unique<TMorvex7330Flash>();
    case 10: return std::make_unique<TMorvex4621Flash>();
    case 11: return std::make_unique<TMorvex8200Flash>();
    case 12: return std::make_unique<TMorvex8400Flash>();
    case 13: return std::make_unique<TCalmontCRX340Flash>();
    case 14: return std::make_unique<TMorvex3840Flash>();
    default: return nullptr;
    }
}
}

void CreateFlashTarget(uint32_t unitType, std::unique_ptr<THitachiFlash>& target, TStatusText* statusLabel,
                       TProgressView* progressBar, TConnectInfo info)
{
    target.reset();
    std::unique_ptr<THitachiFlash> created = NewTarget(unitType);
    if (!created) throw EHitachiFlashException("Flash uP not defined");
    created->SetConnectInfo(info);
    created->Device()->SetStatusLabel(statusLabel);
    created->Device()->SetProgressBar(progressBar);
    target = std::move(created);
}

// ---------------------------------------------------------------- families

TMorvex3810Flash::TMorvex3810Flash(QObject* owner) : THitachiFlash(owner)
{
    SetDefaults();
    SetModelArea(0x800, 0x4800);
}

void TMorvex3810Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1010"); }

void TMorvex3810Flash::SetDefaults()
{
    THitachiFlash::SetDefaults();
    FConnectInfo.ProgramPort->SetBaudRate(br19200);
}

TMorvex4620Flash::TMorvex4620Flash(QObject* owner) : TMorvex3810Flash(owner) { SetModelArea(0x800, 0x7800); }

TMorvex7100Flash::TMorvex7100Flash(QObject* owner) : THitachiFlash(owner)
{
    SetDefaults();
    SetModelArea(0x1000, 0x1F000);
}

void TMorvex7100Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1010"); }

void TMorvex7100Flash::SetDefaults()
{
    THitachiFlash::SetDefaults();
    FConnectInfo.ProgramPort->SetBaudRate(br57600);
}

// ---------------------------------------------------------------- programmer

TMorvexProgrammerFlash::TMorvexProgrammerFlash(QObject* owner) : TMorvex7100Flash(owner)
{
    SetDefaults();
    FFlashStart = 0;
    FFlashSize = 0x20000;
}

void TMorvexProgrammerFlash::SetUserCommand() { FConnectInfo.ConnectCommand = ConnectWord; }

void TMorvexProgrammerFlash::SetDefaults()
{
    TMorvex7100Flash::SetDefaults();
    FConnectInfo.ProgramPort->SetBaudRate(br115200);
}

void TMorvexProgrammerFlash::ValidateImage(TMemoryStream& area)
{
    std::string name;
    uint16_t seed = 0;
    uint32_t start = 0;
    uint32_t size = 0;
    GetIdentity(name, seed, start, size);
    if (static_cast<int64_t>(size) < area.Size()) throw EFDTException("Image Size too big for Flash");
}

void TMorvexProgrammerFlash::VerifyImage(TMemoryStream& image, bool raiseOnMismatch)
{
    TMemoryStream area;
    TMemoryStream flash;
    ExtractUserArea(image, area);
    ReadFlashArea(flash, FFlashStart, static_cast<uint32_t>(area.Size()));
    CompareAreas(area, flash, raiseOnMismatch);
}

// ------------------------------------------------------------------ models

void TMorvex3810DpyFlash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1020"); }
void TMorvex4650Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1070"); }
void TMorvex4621Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1050"); }
void TDW4710Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1040"); }
void TMorvex7310Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1030"); }
void TMorvex7330Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1060"); }
void TMorvex8200Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1080"); }
void TMorvex8400Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1090"); }
void TCalmontCRX340Flash::SetUserCommand() { FConnectInfo.ConnectCommand = FirmwareCommand("1100"); }
void TMorvex3840Flash::SetUserCommand() { FConnectInfo.ConnectCommand.clear(); }
