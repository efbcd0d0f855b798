// --verify-only: the question "does this unit already carry this image?"
// asked of real simulated units. The unit is connected and checked as for
// programming, its flash read back and compared, and the unit restarted;
// whatever the answer, no erase or program command ever reaches it.
#include "clifixture.h"

#include "target/unitmodels.h"

#include <QJsonArray>

namespace {

class CliVerifyOnly : public CliTest {
protected:
    // A unit whose flash holds the image, with the bytes at these flash
    // addresses inverted.
    TUnitSim& StartUnitHoldingTheImage(const std::vector<uint32_t>& spoiled = {}, TUnitSimOptions options = {})
    {
        TUnitSim& unit = StartUnit(options);
        std::vector<uint8_t> flash = PlainImage();
        for (uint32_t address : spoiled) flash.at(address) ^= 0xFF;
        unit.LoadFlash(0, flash);
        FLoaded = unit.Flash();
        return unit;
    }

    TCliResult Verify(const TUnitSim& unit) { return RunCli(RunArguments(unit, {"--verify-only", "--log", LogPath()})); }

    std::string LogPath() const { return Scratch() + "/verify.jsonl"; }

    QJsonObject OnlyRecord()
    {
        const std::vector<QJsonObject> records = LogRecords(LogPath());
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? QJsonObject() : records.front();
    }

    // Nothing was erased or programmed, and the flash is as it was loaded.
    void ExpectUnitUnchanged(const TUnitSim& unit, bool restarted) const
    {
        // The program may end before the unit has read its last command.
        if (restarted) {
            EXPECT_TRUE(unit.WaitForFrame("reset", 5000));
        }
        size_t resets = 0;
        for (const TSimFrame& frame : unit.Transcript()) {
            EXPECT_NE(frame.Label, "erase command");
            EXPECT_NE(frame.Label, "program command");
            resets += frame.Label == "reset";
        }
        EXPECT_EQ(resets, restarted ? 1u : 0u);
        EXPECT_TRUE(unit.Flash() == FLoaded);
        EXPECT_EQ(LockPort(unit.PortPath()), "");
    }

private:
    std::vector<uint8_t> FLoaded;
};

} // namespace

TEST_F(CliVerifyOnly, AUnitHoldingTheImagePassesAndIsRestartedUnchanged)
{
    TUnitSim& unit = StartUnitHoldingTheImage();
    const TCliResult result = Verify(unit);
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Err;
    EXPECT_NE(result.Out.find("Unit Successfully Verified!"), std::string::npos) << result.Out;
    EXPECT_EQ(result.Out.find("Programmed"), std::string::npos) << result.Out;
    ExpectUnitUnchanged(unit, true);

    const QJsonObject record = OnlyRecord();
    EXPECT_EQ(record.value("mode").toString(), "verify-only");
    EXPECT_EQ(record.value("result").toString(), "success");
    EXPECT_EQ(record.value("exitCode").toInt(), ecSuccess);
    EXPECT_FALSE(record.contains("differences"));
    EXPECT_EQ(StepNames(record), (std::vector<std::string>{"wizard", "port-settings", "connect-user", "decipher",
                                                           "check", "verify", "reset"}));
}

// Two bytes of the area differ: the comparison's own message (counting
// from the area's start), the flash addresses, the documented code, and
// the same in the record.
TEST_F(CliVerifyOnly, AUnitThatDiffersIsNamedByItsFirstDifferingAddresses)
{
    const uint32_t start = ModelFlashStart(ImageUnitType());
    TUnitSim& unit = StartUnitHoldingTheImage({start + 0xC80, start + 0x2001});
    const TCliResult result = Verify(unit);
    EXPECT_EQ(result.ExitCode, ecImageDiffers) << result.Err;
    const std::vector<std::string> lines = Lines(result.Err);
    ASSERT_GE(lines.size(), 3u) << result.Err;
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"Verify:", "Found 2 discrepencies starting at address 0xC80.",
                                        "Differing bytes: 2, the first at flash addresses 0x1480, 0x2801"}));
    EXPECT_EQ(result.Out.find("Successfully"), std::string::npos) << result.Out;
    // A unit holding another image is not left in its loader.
    ExpectUnitUnchanged(unit, true);

    const QJsonObject record = OnlyRecord();
    EXPECT_EQ(record.value("result").toString(), "failure");
    EXPECT_EQ(record.value("failure").toString(), "verify-difference");
    EXPECT_EQ(record.value("exitCode").toInt(), ecImageDiffers);
    const QJsonObject differences = record.value("differences").toObject();
    EXPECT_EQ(differences.value("count").toInt(), 2);
    EXPECT_EQ(differences.value("first").toArray(), (QJsonArray{"0x1480", "0x2801"}));
}

// The checks before the read-back are the programming run's: a unit whose
// checksum seed does not fit the image is refused before its flash is read.
TEST_F(CliVerifyOnly, AUnitTheImageDoesNotFitIsRefusedBeforeTheReadBack)
{
    TUnitSimOptions options;
    options.ChecksumSeed = uint16_t(kDemoChecksumSeed + 1);
    TUnitSim& unit = StartUnitHoldingTheImage({}, options);
    const TCliResult result = Verify(unit);
    EXPECT_EQ(result.ExitCode, ecImageInvalid) << result.Err;
    EXPECT_EQ(Lines(result.Err).back(), "Flash and Image Checksums don't match");
    for (const TSimFrame& frame : unit.Transcript()) EXPECT_NE(frame.Label, "read command");
    ExpectUnitUnchanged(unit, false);
    EXPECT_EQ(OnlyRecord().value("failure").toString(), "image-invalid");
}
