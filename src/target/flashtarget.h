// The flash memory of one unit's H8 micro-controller as its model sees it:
// the programmable area, the serial settings that reach the unit and the
// texts that bring it into its loader. The target drives its protocol
// object through the steps of a programming run.
#pragma once

#include "core/exceptions.h"
#include "protocol/compare.h"
#include "protocol/loaderprotocol.h"

#include <QObject>
#include <cstdint>
#include <string>

class TMemoryStream;
class TMessageDialogs;

class EHitachiFlashException : public Exception {
public:
    using Exception::Exception;
};

// The command word of the boot method (also the programmer's user-method
// command) and the answer the unit gives in both methods.
inline const std::string ConnectWord = "SwItChUp";
inline const std::string ReplyWord = "SwItChUp";

class THitachiFlash : public QObject {
    Q_OBJECT
public:
    // Builds the target with the base settings, then its defaults. A class
    // that overrides SetDefaults calls it again in its own constructor,
    // where the call reaches its override; the defaults only assign values,
    // so running the parents' versions first changes nothing.
    explicit THitachiFlash(QObject* owner = nullptr);

    virtual void SetUserCommand();
    virtual void VerifyImage(TMemoryStream& image, bool raiseOnMismatch);
    virtual void ValidateImage(TMemoryStream& area);
    virtual void SetDefaults();
    virtual void SetConnectInfo(const TConnectInfo& info);

    // The steps of a run, in the order the run calls them.
    void Connect();
    void Check(TMemoryStream& image);
    void Erase();
    void Program(TMemoryStream& image);
    void Verify(TMemoryStream& image);
    void Reset();
    void ClosePort();

    TFlashFDTDevice* Device() const { return FDevice; }
    uint32_t FlashStart() const { return FFlashStart; }
    uint32_t FlashSize() const { return FFlashSize; }
    const TConnectInfo& ConnectInfo() const { return FConnectInfo; }
    // The identity text the unit reported last, "" before the first report.
    const std::string& IdentityText() const { return FIdentityText; }
    // Whether the unit reported another identity after the one that passed
    // at connect (or one that did not parse). The unit did not change in
    // between: the line spoiled the reply.
    bool IdentityChangedSinceConnect() const { return !FConnectIdentity.empty() && FIdentityText != FConnectIdentity; }
    // Where the last silent comparison found the flash to differ from the
    // image, as flash addresses (the first few of them); none before one.
    const TDifferences& Differences() const { return FDifferences; }

    // The message boxes of the interactive comparison (VerifyImage without
    // raising). Without them that comparison shows nothing. Not owned.
    void SetCompareDialogs(TMessageDialogs* dialogs) { FCompareDialogs = dialogs; }

protected:
    void GetIdentity(std::string& name, uint16_t& seed, uint32_t& start, uint32_t& size);
    void CheckIdentity();
    void ExtractUserArea(TMemoryStream& image, TMemoryStream& dest);
    static void PadToBlock(TMemoryStream& data, int32_t blockSize);
    void ReadFlashArea(TMemoryStream& dest, uint32_t start, uint32_t count);
    void ReadUserArea(TMemoryStream& dest);
    // VerifyBuffers or CompareBuffers, by raiseOnMismatch.
    void CompareAreas(TMemoryStream& area, TMemoryStream& flash, bool raiseOnMismatch);
    // Area and protocol block settings of a model family.
    void SetModelArea(uint32_t start, uint32_t size);

    TFlashFDTDevice* FDevice = nullptr;
    uint32_t FFlashStart = 0;
    uint32_t FFlashSize = 0;
    TConnectInfo FConnectInfo;

private:
    TMessageDialogs* FCompareDialogs = nullptr;
    std::string FIdentityText;
    std::string FConnectIdentity; // the identity that passed at connect
    TDifferences FDifferences;
};
