// The run log of --log, read back with QJsonDocument field by field: one
// line per run appended, the unit's identity, every step with its time,
// the method, the result and the failure; never an image byte or the pass
// phrase. A log that cannot be opened stops the program before the port.
#include "clifixture.h"

#include "cli/cliprogram.h"
#include "cli/runlog.h"
#include "image/imagedigest.h"
#include "image/storedimage.h"
#include "target/unitmodels.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string Text(const QJsonObject& record, const char* key) { return record.value(key).toString().toStdString(); }

QDateTime Utc(const QJsonValue& value)
{
    const QString text = value.toString();
    EXPECT_TRUE(text.endsWith('Z')) << text.toStdString();
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

// The times hang together: every step starts within the run, in order,
// with a duration that fits.
void ExpectTimesConsistent(const QJsonObject& record)
{
    const QDateTime started = Utc(record.value("started"));
    const QDateTime ended = Utc(record.value("ended"));
    ASSERT_TRUE(started.isValid() && ended.isValid());
    EXPECT_EQ(started.timeSpec(), Qt::UTC);
    EXPECT_LE(started, ended);
    QDateTime previous = started;
    for (const QJsonValue& value : record.value("steps").toArray()) {
        const QJsonObject step = value.toObject();
        const QDateTime at = Utc(step.value("started"));
        ASSERT_TRUE(at.isValid());
        EXPECT_LE(previous, at);
        EXPECT_LE(at, ended);
        EXPECT_GE(step.value("seconds").toDouble(-1), 0.0);
        EXPECT_LE(at.addMSecs(qint64(step.value("seconds").toDouble() * 1000) - 2), ended);
        previous = at;
    }
}

// No 16-byte run of the plain image (leaving out runs of one repeated
// byte, which any text may hold), and neither form of the pass phrase.
void ExpectNoSecrets(const std::string& text)
{
    EXPECT_EQ(PlainWindowsIn(text), 0u);
    const std::string passPhrase = GetPassPhrase();
    EXPECT_EQ(text.find(passPhrase), std::string::npos);
    EXPECT_EQ(text.find(MORVEX_PASS_PHRASE_HEX), std::string::npos);
    std::string lowerHex = MORVEX_PASS_PHRASE_HEX;
    for (char& c : lowerHex) c = char(std::tolower(c));
    EXPECT_EQ(text.find(lowerHex), std::string::npos);
}

// The identity text as the unit sent it: the identity frame's bytes up to
// the first zero.
std::string IdentitySent(const TUnitSim& unit)
{
    for (const TSimFrame& frame : unit.Transcript()) {
        if (frame.Direction != sdUnitToHost || frame.Label != "identity") continue;
        const auto end = std::find(frame.Plain.begin(), frame.Plain.end(), 0);
        return std::string(frame.Plain.begin(), end);
    }
    return "";
}

class CliLog : public CliTest {
protected:
    std::string LogPath() const { return Scratch() + "/bench.jsonl"; }
};

TEST_F(CliLog, ASuccessfulRunIsOneLineWithEveryField)
{
    TUnitSim& unit = StartUnit();
    const TCliResult result = RunCli(RunArguments(unit, {"--log", LogPath(), "--stop-bits", "2"}));
    ASSERT_EQ(result.ExitCode, ecSuccess) << result.Err;
    const std::vector<QJsonObject> records = LogRecords(LogPath());
    ASSERT_EQ(records.size(), 1u);
    const QJsonObject& record = records[0];

    // Which fields there are is the schema test's; here their values.
    EXPECT_EQ(record.value("schema").toInt(), 1);
    EXPECT_EQ(Text(record, "version"), MORVEX_VERSION);
    EXPECT_TRUE(record.value("adapter").isNull());
    EXPECT_EQ(Text(record, "mode"), "program");
    const QByteArray plain(reinterpret_cast<const char*>(PlainImage().data()), int(PlainImage().size()));
    EXPECT_EQ(Text(record, "imageDigest"),
              QCryptographicHash::hash(plain, QCryptographicHash::Sha256).toHex().toStdString());
    ExpectTimesConsistent(record);
    EXPECT_EQ(Text(record, "host"), QSysInfo::machineHostName().toStdString());
    EXPECT_EQ(Text(record, "port"), unit.PortPath());
    EXPECT_EQ(Text(record, "device"), unit.PortPath());
    const QJsonObject settings = record.value("settings").toObject();
    EXPECT_EQ(Text(settings, "baud"), "9600");
    EXPECT_EQ(Text(settings, "dataBits"), "8");
    EXPECT_EQ(Text(settings, "stopBits"), "2");
    EXPECT_EQ(Text(settings, "parity"), "None");
    EXPECT_EQ(Text(record, "image"), GetImageName(StoredImage));
    EXPECT_EQ(record.value("unitType").toInt(-1), int(ImageUnitType()));
    EXPECT_EQ(Text(record, "model"), UnitModelNames.at(ImageUnitType()));
    const std::string identity = IdentitySent(unit);
    EXPECT_FALSE(identity.empty());
    EXPECT_EQ(Text(record, "identity"), identity);
    // The identity read: "seed:start:size:name\n" in hex.
    const QJsonObject unitRead = record.value("unit").toObject();
    EXPECT_EQ(identity, Text(unitRead, "seed").substr(2) + ":" + Text(unitRead, "flashStart").substr(2) + ":" +
                            Text(unitRead, "flashSize").substr(2) + ":" + Text(unitRead, "name") + "\n");
    EXPECT_EQ(std::stoul(Text(unitRead, "flashStart"), nullptr, 16), ModelFlashStart(ImageUnitType()));
    EXPECT_EQ(StepNames(record), (std::vector<std::string>{"wizard", "port-settings", "connect-user", "decipher",
                                                           "check", "erase", "program", "verify", "reset"}));
    EXPECT_EQ(Text(record, "method"), "user");
    EXPECT_EQ(Text(record, "result"), "success");
    EXPECT_EQ(Text(record, "failure"), "none");
    EXPECT_EQ(record.value("exitCode").toInt(-1), 0);
    EXPECT_EQ(Text(record, "message"), "Unit Successfully Programmed!");
    ExpectNoSecrets(ReadText(LogPath()));
}

TEST_F(CliLog, RunsAppendTheirLinesWithMethodFailureKindAndMessage)
{
    // A refused boot method, a failed erase, then the boot method allowed.
    TUnitSimOptions bootOnly;
    bootOnly.FirmwareAnswersUserCommand = false;
    bootOnly.AutoResetAfterConnectWords = 0;
    TUnitSimOptions eraseFails;
    eraseFails.Faults.push_back(ParseFault("wrong@erase=%"));
    TUnitSim& refused = StartUnit(bootOnly);
    TUnitSim& failing = StartUnit(eraseFails);
    TUnitSim& booted = StartUnit(bootOnly);
    EXPECT_EQ(RunCli(RunArguments(refused, {"--log", LogPath()})).ExitCode, ecCancelled);
    EXPECT_EQ(RunCli(RunArguments(failing, {"--log", LogPath()})).ExitCode, ecEraseFailed);
    EXPECT_EQ(RunCli(RunArguments(booted, {"--log", LogPath(), "--yes"})).ExitCode, ecSuccess);

    const std::vector<QJsonObject> records = LogRecords(LogPath());
    ASSERT_EQ(records.size(), 3u);
    for (const QJsonObject& record : records) ExpectTimesConsistent(record);

    EXPECT_EQ(Text(records[0], "port"), refused.PortPath());
    EXPECT_EQ(Text(records[0], "method"), "user");
    EXPECT_EQ(Text(records[0], "userMethodFailure"), "No reply to start command");
    EXPECT_EQ(Text(records[0], "result"), "failure");
    EXPECT_EQ(Text(records[0], "failure"), "cancelled");
    EXPECT_EQ(records[0].value("exitCode").toInt(), ecCancelled);
    EXPECT_EQ(Text(records[0], "message"), "Connect Cancelled by User");
    EXPECT_EQ(Text(records[0], "identity"), "");
    EXPECT_EQ(StepNames(records[0]),
              (std::vector<std::string>{"wizard", "port-settings", "connect-user", "boot-question"}));

    EXPECT_EQ(Text(records[1], "port"), failing.PortPath());
    EXPECT_EQ(Text(records[1], "failure"), "erase-failed");
    EXPECT_EQ(records[1].value("exitCode").toInt(), ecEraseFailed);
    EXPECT_EQ(Text(records[1], "message"), "Erase Failed: Device Failure");
    EXPECT_EQ(Text(records[1], "identity"), IdentitySent(failing));
    EXPECT_EQ(StepNames(records[1]).back(), "erase");
    EXPECT_FALSE(records[1].contains("userMethodFailure"));

    EXPECT_EQ(Text(records[2], "method"), "boot");
    EXPECT_EQ(Text(records[2], "result"), "success");
    EXPECT_EQ(Text(records[2], "failure"), "none");
    EXPECT_EQ(StepNames(records[2]),
              (std::vector<std::string>{"wizard", "port-settings", "connect-user", "boot-question", "connect-boot",
                                        "decipher", "check", "erase", "program", "verify", "reset"}));
    ExpectNoSecrets(ReadText(LogPath()));
}

// Logs that are no log: a folder that does not exist, a folder in place of
// a file, and what a neighbour on a shared bench folder could plant there: a
// FIFO (whose open would block for good), a link (to a file of their
// choice) and a file of their own.
struct TUnusableLog {
    const char* Name;
    const char* Reason;
    void (*Plant)(const std::string& path); // makes what is at the path
};

void PrintTo(const TUnusableLog& c, std::ostream* out) { *out << c.Name; }

const TUnusableLog UnusableLogs[] = {
    {"MissingFolder", "No such file or directory",
     [](const std::string& path) { std::filesystem::remove(std::filesystem::path(path).parent_path()); }},
    {"Folder", "Is a directory", [](const std::string& path) { std::filesystem::create_directory(path); }},
    {"Fifo", "it is not a regular file", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
    {"LinkToAFile", "it is a symbolic link",
     [](const std::string& path) {
         std::ofstream(path + ".target") << "";
         std::filesystem::create_symlink(path + ".target", path);
     }},
    {"AnotherUsersFile", "it belongs to another user",
     [](const std::string& path) {
         std::ofstream(path) << "";
         if (geteuid() != 0 || chown(path.c_str(), 65534, 65534) != 0)
             GTEST_SKIP() << "only root can give a file to another user";
     }},
};

class CliUnusableLog : public CliLog, public ::testing::WithParamInterface<TUnusableLog> {};

TEST_P(CliUnusableLog, IsAUsageErrorBeforeTheUnitIsTouched)
{
    TUnitSim& unit = StartUnit();
    std::filesystem::create_directory(Scratch() + "/logs");
    const std::string path = Scratch() + "/logs/runs.jsonl";
    GetParam().Plant(path);
    if (IsSkipped()) return;
    const TCliResult result = RunCli(RunArguments(unit, {"--log", path, "--yes"}));
    EXPECT_FALSE(result.TimedOut);
    EXPECT_EQ(result.ExitCode, ecUsage);
    EXPECT_EQ(Lines(result.Err), (std::vector<std::string>{"morvex-flash-cli: Cannot open the log " + path +
                                                           " for appending: " + GetParam().Reason}));
    EXPECT_EQ(result.Out, "");
    EXPECT_TRUE(UnitSawNothing(unit)) << unit.Transcript().size() << " frames";
    EXPECT_EQ(LockPort(unit.PortPath()), "");
    EXPECT_EQ(ReadText(path + ".target"), ""); // nothing went where a link led
}

INSTANTIATE_TEST_SUITE_P(Paths, CliUnusableLog, ::testing::ValuesIn(UnusableLogs),
                         [](const ::testing::TestParamInfo<TUnusableLog>& info) { return info.param.Name; });

TEST_F(CliLog, ARecordCutShortIsExit12AndTheNextRecordStartsOnALineOfItsOwn)
{
    TUnitSim& unit = StartUnit();
    // ulimit -f: the file takes only the record's first 40 bytes.
    TChildSetup limited;
    limited.FileSizeLimit = 40;
    const TCliResult cut = RunCli(RunArguments(unit, {"--log", LogPath()}), {}, limited);
    EXPECT_EQ(cut.ExitCode, ecLogNotWritten) << cut.Err;
    EXPECT_NE(cut.Out.find("Unit Successfully Programmed!"), std::string::npos);
    EXPECT_EQ(Lines(cut.Err),
              (std::vector<std::string>{
                  "morvex-flash-cli: Cannot append to the log " + LogPath() + ": the line was cut short",
                  "morvex-flash-cli: the unit was programmed, but its record is not in the log"}));
    EXPECT_TRUE(FlashHoldsTheImage(unit));
    const std::string fragment = ReadText(LogPath());
    ASSERT_EQ(fragment.size(), 40u);

    // A failed run with no room at all keeps its own code, and says so.
    TUnitSimOptions eraseFails;
    eraseFails.Faults.push_back(ParseFault("wrong@erase=%"));
    TUnitSim& failing = StartUnit(eraseFails);
    const TCliResult failed = RunCli(RunArguments(failing, {"--log", LogPath()}), {}, limited);
    EXPECT_EQ(failed.ExitCode, ecEraseFailed) << failed.Err;
    EXPECT_EQ(Lines(failed.Err).back(), "morvex-flash-cli: Cannot append to the log " + LogPath() + ": File too large");
    EXPECT_EQ(ReadText(LogPath()), fragment);

    // Without the limit the next record is whole, on a line of its own.
    ASSERT_EQ(RunCli(RunArguments(unit, {"--log", LogPath()})).ExitCode, ecSuccess);
    const std::vector<std::string> lines = Lines(ReadText(LogPath()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], fragment);
    const QJsonDocument record = QJsonDocument::fromJson(QByteArray::fromStdString(lines[1]));
    ASSERT_TRUE(record.isObject()) << lines[1];
    EXPECT_EQ(Text(record.object(), "result"), "success");
}

TEST_F(CliLog, AnInvalidEmbeddedImageLeavesAFailureRecord)
{
    // The program's own run with a record that names no image, in this
    // process: the program carries only its valid one.
    int argc = 1;
    char name[] = "morvex-flash-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("morvex-flash-cli");
    TUnitSim& unit = StartUnit();
    const auto invalid = std::make_unique<TStoredImage>();
    const int exitCode = RunCommandLine({"morvex-flash-cli", "--port", QString::fromStdString(unit.PortPath()), "--log",
                                         QString::fromStdString(LogPath())},
                                        *invalid, StoredImageDigest);
    EXPECT_EQ(exitCode, ecImageInvalid);
    EXPECT_TRUE(UnitSawNothing(unit));
    const std::vector<QJsonObject> records = LogRecords(LogPath());
    ASSERT_EQ(records.size(), 1u);
    ExpectTimesConsistent(records[0]);
    EXPECT_EQ(Text(records[0], "result"), "failure");
    EXPECT_EQ(Text(records[0], "failure"), "image-invalid");
    EXPECT_EQ(records[0].value("exitCode").toInt(), ecImageInvalid);
    EXPECT_EQ(Text(records[0], "message"), "No Valid FLASH Image Present!");
    EXPECT_EQ(Text(records[0], "port"), unit.PortPath());
    EXPECT_TRUE(records[0].value("steps").toArray().isEmpty());
}

TEST(CliLogRecord, CarriesTheBackgroundFailuresOnlyWhenThereWereAny)
{
    TRunReport report;
    report.Succeeded = true;
    EXPECT_FALSE(RunRecord(report, TRunContext{}).contains("backgroundFailures"));
    report.BackgroundFailures = {"No Reply Within Time Out Period", "Read Failed: No reply"};
    const QJsonArray failures = RunRecord(report, TRunContext{}).value("backgroundFailures").toArray();
    ASSERT_EQ(failures.size(), 2);
    EXPECT_EQ(failures[0].toString(), "No Reply Within Time Out Period");
    EXPECT_EQ(failures[1].toString(), "Read Failed: No reply");
}
}
