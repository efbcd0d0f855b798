// The catalogue of unit models: each model's flash area, programming bit
// rate and the command that sends its running firmware into the loader,
// and the factory that builds the target for a unit type.
#pragma once

#include "target/flashtarget.h"

#include <array>
#include <memory>

class TProgressView;
class TStatusText;

// Display names by unit type; 15 has a name but no target class.
inline constexpr std::array<const char*, 16> UnitModelNames = {
    "Programmer (7100-050)", "Morvex 3810",           "Morvex 3810 Display", "Morvex 4620",
    "Morvex 4650",           "Morvex 7100",           "Dexa DW4710",         "Morvex 7300",
    "Morvex 7310",           "Morvex 7330",           "Morvex 4621",         "Morvex 8200",
    "Morvex 8400",           "Calmont CRX330/CRX340", "Morvex 3840",         "Advanced"};

// How the operator is shown to cable a unit type: which instruction lines
// the cabling page has (none: the run shows no cabling page).
enum class TInstructionSet { None, Arrow, Plain, Serial2 };

// A unit type's row: the model's target class (which holds the flash area,
// programming rate and user command as its defaults), the artwork of the
// main window's icon and of the cabling page, and the cabling page's
// instruction lines; the name is UnitModelNames' entry of the same index.
// Artwork is named, not loaded, so that this layer stays free of windows:
// the window draws each named file (src/app/modelartwork), the icon at its
// icon place's size and the picture at the size its file gives.
struct TUnitType {
    std::unique_ptr<THitachiFlash> (*NewTarget)(); // null: no target class
    const char* Icon;                              // null: the program's own icon
    TInstructionSet Instructions;
    const char* CablePicture; // null: no cabling page
};

// The entry of a unit type, null for a type beyond the catalogue.
const TUnitType* FindUnitType(uint32_t unitType);

// Frees the target held in target, builds the one for unitType with the
// caller's connection choices and wires the status text and progress bar
// (either may be absent) to its protocol object. Raises
// EHitachiFlashException "Flash uP not defined" for a type without a target
// class; target is empty after any failure.
void CreateFlashTarget(uint32_t unitType, std::unique_ptr<THitachiFlash>& target, TStatusText* statusLabel,
                       TProgressView* progressBar, TConnectInfo info);

// ---------------------------------------------------------------- families

class TMorvex3810Flash : public THitachiFlash {
    Q_OBJECT
public:
    explicit TMorvex3810Flash(QObject* owner = nullptr);
    void SetUserCommand() override;
    void SetDefaults() override;
};

class TMorvex4620Flash : public TMorvex3810Flash {
    Q_OBJECT
public:
    explicit TMorvex4620Flash(QObject* owner = nullptr);
};

class TMorvex7100Flash : public THitachiFlash {
    Q_OBJECT
public:
    explicit TMorvex7100Flash(QObject* owner = nullptr);
    void SetUserCommand() override;
    void SetDefaults() override;
};

// The programmer takes any image up to its flash size and verifies only
// as many bytes as the image has.
class TMorvexProgrammerFlash : public TMorvex7100Flash {
    Q_OBJECT
public:
    explicit TMorvexProgrammerFlash(QObject* owner = nullptr);
    void SetUserCommand() override;
    void SetDefaults() override;
    void ValidateImage(TMemoryStream& area) override;
    void VerifyImage(TMemoryStream& image, bool raiseOnMismatch) override;
};

// ------------------------------------- models that differ only by command

class TMorvex3810DpyFlash : public TMorvex3810Flash {
    Q_OBJECT
public:
    using TMorvex3810Flash::TMorvex3810Flash;
    void SetUserCommand() override;
};

class TMorvex4650Flash : public TMorvex4620Flash {
    Q_OBJECT
public:
    using TMorvex4620Flash::TMorvex4620Flash;
    void SetUserCommand() override;
};

class TMorvex4621Flash : public TMorvex4620Flash {
    Q_OBJECT
public:
    using TMorvex4620Flash::TMorvex4620Flash;
    void SetUserCommand() override;
};

class TDW4710Flash : public TMorvex7100Flash {
    Q_OBJECT
public:
    using TMorvex7100Flash::TMorvex7100Flash;
    void SetUserCommand() override;
};

// Same command as the 7100; the parent of the 7310, 7330 and CRX340.
class TMorvex7300Flash : public TMorvex7100Flash {
    Q_OBJECT
public:
    using TMorvex7100Flash::TMorvex7100Flash;
};

class TMorvex7310Flash : public TMorvex7300Flash {
    Q_OBJECT
public:
    using TMorvex7300Flash::TMorvex7300Flash;
    void SetUserCommand() override;
};

class TMorvex7330Flash : public TMorvex7300Flash {
    Q_OBJECT
public:
    using TMorvex7300Flash::TMorvex7300Flash;
    void SetUserCommand() override;
};

class TMorvex8200Flash : public TMorvex7100Flash {
    Q_OBJECT
public:
    using TMorvex7100Flash::TMorvex7100Flash;
    void SetUserCommand() override;
};

class TMorvex8400Flash : public TMorvex7100Flash {
    Q_OBJECT
public:
    using TMorvex7100Flash::TMorvex7100Flash;
    void SetUserCommand() override;
};

class TCalmontCRX340Flash : public TMorvex7300Flash {
    Q_OBJECT
public:
    using TMorvex7300Flash::TMorvex7300Flash;
    void SetUserCommand() override;
};

// Its firmware is sent no command. With the user method the host writes
// nothing to the line: it discards its own queued input, then waits up to
// the channel's reply time-out for the unit to send the reply word of its
// own accord. Silence is "No reply to start command", other bytes "Reply
// doesn't match".
class TMorvex3840Flash : public TMorvex7100Flash {
    Q_OBJECT
public:
    using TMorvex7100Flash::TMorvex7100Flash;
    void SetUserCommand() override;
};
