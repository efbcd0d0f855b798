#include "target/unitmodels.h"

#include "core/memstream.h"
#include "serial/devicechannel.h"

namespace {
// 0x02, "PF" and four digits, 0x03: what the running firmware of most
// models takes as the order to enter its flash loader.
std::string FirmwareCommand(const char* digits) { return std::string("\x02PF") + digits + "\x03"; }

template <class T>
std::unique_ptr<THitachiFlash> New()
{
    return std::make_unique<T>();
}

using enum TInstructionSet;

// Indexed by unit type; the names are UnitModelNames.
const std::array<TUnitType, UnitModelNames.size()> UnitTypes = {{
    {New<TMorvexProgrammerFlash>, nullptr, None, nullptr},
    {New<TMorvex3810Flash>, "icon3810", Arrow, "cable3810"},
    {New<TMorvex3810DpyFlash>, nullptr, None, nullptr},
    {New<TMorvex4620Flash>, "icon4620", Plain, "cable4620"},
    {New<TMorvex4650Flash>, nullptr, Plain, "cable4620"},
    {New<TMorvex7100Flash>, "icon7100", Serial2, "cable7300"},
    {New<TDW4710Flash>, "icon7100", Serial2, "cable7300"},
    {New<TMorvex7300Flash>, "icon7300", Serial2, "cable7300"},
    {New<TMorvex7310Flash>, "icon7300", Serial2, "cable7300"},
    {New<TMorvex7330Flash>, "icon7300", Serial2, "cable7300"},
    {New<TMorvex4621Flash>, "icon4621", Plain, "cable4620"},
    {New<TMorvex8200Flash>, "icon8200", Plain, "cable8200"},
    {New<TMorvex8400Flash>, "icon8400", Serial2, "cable7300"},
    {New<TCalmontCRX340Flash>, "icon7300", Serial2, "cable7300"},
    {New<TMorvex3840Flash>, "icon3840", Arrow, "cable3840"},
    {nullptr, nullptr, None, nullptr},
}};
}

const TUnitType* FindUnitType(uint32_t unitType)
{
    return unitType < UnitTypes.size() ? &UnitTypes[unitType] : nullptr;
}

void CreateFlashTarget(uint32_t unitType, std::unique_ptr<THitachiFlash>& target, TStatusText* statusLabel,
                       TProgressView* progressBar, TConnectInfo info)
{
    target.reset();
    const TUnitType* type = FindUnitType(unitType);
    if (!type || !type->NewTarget) throw EHitachiFlashException("Flash uP not defined", TFailureCause::ImageInvalid);
    std::unique_ptr<THitachiFlash> created = type->NewTarget();
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
