// A wrong image never costs the unit its firmware: whatever is wrong with
// the stored record (pass phrase, damaged bytes, size, checksum, length
// field) or with the unit's identity, the run stops before the erase
// command, and the flash keeps what it held.
#include "runfixture.h"

#include "tools/mkimage/demofirmware.h"
#include "tools/mkimage/recordbuilder.h"

#include <memory>

namespace {

const char* const BadChecksum = "Flash and Image Checksums don't match";
const char* const BadSize = "Flash Size doesn't match Image Size";
const char* const NotOurUnit = "Flash uP does not match definition";

std::unique_ptr<TStoredImage> RecordOf(const std::vector<uint8_t>& plain,
                                       const std::string& passPhrase = GetPassPhrase())
{
    return BuildStoredImage(plain, "4620 V2.5", 3, passPhrase);
}

class WrongImage : public RunTest {
protected:
    // Runs the record against a healthy unit (or the one given) and expects
    // the failure before anything was erased.
    void ExpectRefused(const TStoredImage& record, const std::string& className, const std::string& message,
                       TUnitSimOptions options = UnitOptions())
    {
        StartUnit(options);
        Run = std::make_unique<TFlashRun>(record);
        Run->AnswerBootQuestion = true;
        const TRunOutcome outcome = RunOnce(record);
        EXPECT_FALSE(outcome.Succeeded);
        EXPECT_EQ(outcome.FailureClass, className);
        EXPECT_EQ(outcome.Message, message);
        WaitForHostToLetGo();
        ExpectFlashUntouched();
        EXPECT_EQ(LastHostFrame(Unit->Transcript()), "identity query");
        ExpectPortReleased();
    }
};

TEST_F(WrongImage, AWrongPassPhraseFailsTheChecksum)
{
    ExpectRefused(*RecordOf(DemoPlainImage(), "NotOurK8"), "EFDTException", BadChecksum);
}

TEST_F(WrongImage, DamagedStoredBytesFailTheChecksumWhereverTheyAre)
{
    const std::unique_ptr<TStoredImage> good = RecordOf(DemoPlainImage());
    // The first byte of the area, one in the middle, the checksum word.
    for (const uint32_t at : {kDemoAreaStart, 0x4321u, kDemoImageSize - 1}) {
        SCOPED_TRACE(at);
        auto damaged = std::make_unique<TStoredImage>(*good);
        damaged->Data[at] ^= 0x01;
        ExpectRefused(*damaged, "EFDTException", BadChecksum);
    }
}

TEST_F(WrongImage, AWrongChecksumWordIsRefused)
{
    std::vector<uint8_t> plain = DemoPlainImage();
    plain.back() ^= 0x01;
    ExpectRefused(*RecordOf(plain), "EFDTException", BadChecksum);
}

TEST_F(WrongImage, AnImageOfAnotherSizeIsRefused)
{
    std::vector<uint8_t> shorter(DemoPlainImage().begin(), DemoPlainImage().end() - 1);
    ExpectRefused(*RecordOf(shorter), "EFDTException", BadSize);
    std::vector<uint8_t> longer = DemoPlainImage();
    longer.resize(longer.size() + 128, 0xFF);
    ExpectRefused(*RecordOf(longer), "EFDTException", BadSize);
}

TEST_F(WrongImage, AStoredLengthBeyondTheRecordLoadsNothingAndIsRefused)
{
    // The window refuses such a record at start-up; the run refuses it too.
    for (const uint32_t length : {MaxImageSize + 1, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        std::unique_ptr<TStoredImage> record = RecordOf(DemoPlainImage());
        record->Length = length;
        ExpectRefused(*record, "EFDTException", BadSize);
    }
    // The whole record: more than this unit's flash.
    std::unique_ptr<TStoredImage> record = RecordOf(DemoPlainImage());
    record->Length = MaxImageSize;
    ExpectRefused(*record, "EFDTException", BadSize);
}

TEST_F(WrongImage, AUnitThatReportsAnotherAreaIsNotTouched)
{
    for (const TFaultKind kind : {fkWrongStart, fkWrongSize}) {
        SCOPED_TRACE(FaultToText(TUnitFault{kind, fpIdentity, -1, {}, std::nullopt}));
        TUnitSimOptions options = UnitOptions();
        options.Faults.push_back(TUnitFault{kind, fpIdentity, -1, {}, std::nullopt});
        ExpectRefused(DemoRecord(), "EHitachiFlashException", NotOurUnit, options);
    }
}

TEST_F(WrongImage, AUnitWithAnotherChecksumSeedIsNotTouched)
{
    TUnitSimOptions options = UnitOptions();
    options.ChecksumSeed = kDemoChecksumSeed ^ 0x0101;
    ExpectRefused(DemoRecord(), "EFDTException", BadChecksum, options);
}

}
