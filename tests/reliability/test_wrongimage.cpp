// A wrong image never costs the unit its firmware: whatever is wrong with
// the stored record (pass phrase, damaged bytes, size, checksum, length
// field) or with the unit's identity, the run stops before the erase
// command, and the flash keeps what it held.
//
// The run is handed the digest the build stores beside the record: the
// digest of the plain image the record was built from. A record that no
// longer deciphers to that image (another pass phrase, a damaged byte, a
// damaged length) is refused by the run itself before it asks the unit
// anything about the image, for every model, including the programmer,
// which has no checksum of its own. An image that the build did store but
// that does not fit the unit is refused by the unit's own checks.
#include "runfixture.h"

#include "tools/mkimage/demofirmware.h"
#include "tools/mkimage/recordbuilder.h"

#include <memory>

namespace {

const char* const BadChecksum = "Flash and Image Checksums don't match";
const char* const BadSize = "Flash Size doesn't match Image Size";
const char* const NotOurUnit = "Flash uP does not match definition";
const char* const WrongPassPhrase = "NotOurK8";

// The Morvex 4620 the demo image is for, and the programmer (unit type 0),
// which takes any image up to its flash size and checks no checksum.
constexpr uint32_t k4620 = 3;
constexpr uint32_t kProgrammer = 0;

TBuiltRecord RecordOf(const std::vector<uint8_t>& plain, const std::string& passPhrase = GetPassPhrase(),
                      uint32_t unitType = k4620)
{
    return BuildStoredImageWithDigest(plain, "4620 V2.5", unitType, passPhrase);
}

TUnitSimOptions UnitOfType(uint32_t unitType)
{
    TUnitSimOptions options;
    options.UnitType = unitType;
    options.AutoResetAfterConnectWords = 0;
    return options;
}

class WrongImage : public RunTest {
protected:
    // Runs the record against a healthy unit (or the one given) and expects
    // the failure before anything was erased.
    TRunOutcome ExpectRefused(const TStoredImage& record, const TImageDigest& digest, const std::string& className,
                              const std::string& message, TUnitSimOptions options = UnitOptions())
    {
        StartUnit(options);
        // A new operator for each record: the run is built for its record.
        Operator.reset();
        OperatorFor(record, digest).Answers.BootYes = true;
        const TRunOutcome outcome = RunOnce(record, digest);
        EXPECT_FALSE(outcome.Succeeded);
        EXPECT_EQ(outcome.FailureClass, className);
        EXPECT_EQ(outcome.Message, message);
        Unit->WaitForHostToLetGo();
        Unit->ExpectFlashUntouched();
        EXPECT_EQ(Unit->LastHostFrame(), "identity query");
        ExpectPortReleased();
        return outcome;
    }

    // A record that does not decipher to the image whose digest the build
    // stored: the run refuses it while deciphering, after connecting and
    // before the unit's own check of the image is even asked for.
    void ExpectDigestRefused(const TStoredImage& record, uint32_t unitType)
    {
        const TRunOutcome outcome =
            ExpectRefused(record, DemoDigest(), "EFDTException", BadChecksum, UnitOfType(unitType));
        EXPECT_EQ(outcome.Kind, TFailureKind::ImageInvalid);
        ASSERT_FALSE(outcome.Steps.empty());
        EXPECT_EQ(RunStepName(outcome.Steps.back()), std::string("decipher"));
        // Two identity queries connect; the image check would ask a third.
        EXPECT_EQ(Unit->CountFrames("identity query"), 2u);
    }
};

TEST_F(WrongImage, TheRightRecordProgramsEitherModel)
{
    // What the refusals below are measured against: the same units, the
    // same digest, the record built from the plain image.
    for (const uint32_t unitType : {kProgrammer, k4620}) {
        SCOPED_TRACE(unitType);
        StartUnit(UnitOfType(unitType));
        Operator.reset();
        const TBuiltRecord built = RecordOf(DemoPlainImage(), GetPassPhrase(), unitType);
        const TRunOutcome outcome = RunOnce(*built.Record, DemoDigest());
        EXPECT_TRUE(outcome.Succeeded) << outcome.FailureClass << ": " << outcome.Message;
        const std::vector<uint8_t>& plain = DemoPlainImage();
        const std::vector<uint8_t> flash = Unit->Flash();
        // The programmer's area starts at 0, the 4620's above the boot block.
        const uint32_t from = unitType == kProgrammer ? 0 : kDemoAreaStart;
        EXPECT_TRUE(std::equal(plain.begin() + from, plain.end(), flash.begin() + from));
        Unit->WaitForHostToLetGo();
        ExpectPortReleased();
    }
}

TEST_F(WrongImage, ARecordUnderAnotherPassPhraseNeverReachesTheErase)
{
    for (const uint32_t unitType : {kProgrammer, k4620}) {
        SCOPED_TRACE(unitType);
        ExpectDigestRefused(*RecordOf(DemoPlainImage(), WrongPassPhrase, unitType).Record, unitType);
    }
}

TEST_F(WrongImage, ADamagedStoredByteNeverReachesTheErase)
{
    for (const uint32_t unitType : {kProgrammer, k4620}) {
        SCOPED_TRACE(unitType);
        const TBuiltRecord good = RecordOf(DemoPlainImage(), GetPassPhrase(), unitType);
        // The first byte of the 4620's area, one in the middle, the checksum word.
        for (const uint32_t at : {kDemoAreaStart, 0x4321u, kDemoImageSize - 1}) {
            SCOPED_TRACE(at);
            auto damaged = std::make_unique<TStoredImage>(*good.Record);
            damaged->Data[at] ^= 0x01;
            ExpectDigestRefused(*damaged, unitType);
        }
    }
}

TEST_F(WrongImage, AWrongChecksumWordIsRefusedByTheUnitsCheck)
{
    // The build stored this image, checksum word and all: the digest fits,
    // and it is the unit's checksum that refuses it.
    std::vector<uint8_t> plain = DemoPlainImage();
    plain.back() ^= 0x01;
    const TBuiltRecord built = RecordOf(plain);
    const TRunOutcome outcome = ExpectRefused(*built.Record, built.Digest, "EFDTException", BadChecksum);
    EXPECT_EQ(RunStepName(outcome.Steps.back()), std::string("check"));
}

TEST_F(WrongImage, AnImageOfAnotherSizeIsRefused)
{
    std::vector<uint8_t> shorter(DemoPlainImage().begin(), DemoPlainImage().end() - 1);
    TBuiltRecord built = RecordOf(shorter);
    ExpectRefused(*built.Record, built.Digest, "EFDTException", BadSize);
    std::vector<uint8_t> longer = DemoPlainImage();
    longer.resize(longer.size() + 128, 0xFF);
    built = RecordOf(longer);
    ExpectRefused(*built.Record, built.Digest, "EFDTException", BadSize);
}

TEST_F(WrongImage, AStoredLengthBeyondTheRecordLoadsNothingAndIsRefused)
{
    // The window refuses such a record at start-up; the run refuses it too:
    // what it loads (nothing, or the whole record with its filler) is not
    // the image whose digest the build stored.
    for (const uint32_t length : {MaxImageSize + 1, 0xFFFFFFFFu, MaxImageSize}) {
        SCOPED_TRACE(length);
        std::unique_ptr<TStoredImage> record = RecordOf(DemoPlainImage()).Record;
        record->Length = length;
        ExpectRefused(*record, DemoDigest(), "EFDTException", BadChecksum);
    }
}

TEST_F(WrongImage, AUnitThatReportsAnotherAreaIsNotTouched)
{
    for (const TFaultKind kind : {fkWrongStart, fkWrongSize}) {
        SCOPED_TRACE(FaultToText(TUnitFault{kind, fpIdentity, -1, {}, std::nullopt}));
        TUnitSimOptions options = UnitOptions();
        options.Faults.push_back(TUnitFault{kind, fpIdentity, -1, {}, std::nullopt});
        ExpectRefused(DemoRecord(), DemoDigest(), "EHitachiFlashException", NotOurUnit, options);
    }
}

TEST_F(WrongImage, AUnitWithAnotherChecksumSeedIsNotTouched)
{
    TUnitSimOptions options = UnitOptions();
    options.ChecksumSeed = kDemoChecksumSeed ^ 0x0101;
    ExpectRefused(DemoRecord(), DemoDigest(), "EFDTException", BadChecksum, options);
}

}
