// The run log of --log, read back with QJsonDocument field by field: one
// line per run appended, the unit's identity, every step with its time,
// the method, the result and the failure; never an image byte or the pass
// phrase. A log that cannot be opened stops the program before the port.
#include "clifixture.h"

#include "image/storedimage.h"
#include "target/unitmodels.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace {
std::string ReadText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Each line of the log as a JSON object; a line that is not one fails.
std::vector<QJsonObject> LogRecords(const std::string& path)
{
    std::vector<QJsonObject> records;
    const std::string text = ReadText(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    for (const std::string& line : Lines(text)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(document.isObject()) << line;
        records.push_back(document.object());
    }
    return records;
}

std::string Text(const QJsonObject& record, const char* key) { return record.value(key).toString().toStdString(); }

QDateTime Utc(const QJsonValue& value)
{
    const QString text = value.toString();
    EXPECT_TRUE(text.endsWith('Z')) << text.toStdString();
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

std::vector<std::string> StepNames(const QJsonObject& record)
{
    std::vector<std::string> names;
    for (const QJsonValue& step : record.value("steps").toArray())
        names.push_back(step.toObject().value("step").toString().toStdString());
    return names;
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
    const std::vector<uint8_t>& plain = PlainImage();
    std::set<std::string> windows;
    for (size_t i = 0; i + 16 <= plain.size(); ++i) {
        if (std::all_of(plain.begin() + long(i), plain.begin() + long(i) + 16,
                        [&](uint8_t b) { return b == plain[i]; }))
            continue;
        windows.insert(std::string(plain.begin() + long(i), plain.begin() + long(i) + 16));
    }
    for (size_t i = 0; i + 16 <= text.size(); ++i) ASSERT_EQ(windows.count(text.substr(i, 16)), 0u) << "at " << i;
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
    ASSERT_EQ(result.ExitCode, kExitSuccess) << result.Err;
    const std::vector<QJsonObject> records = LogRecords(LogPath());
    ASSERT_EQ(records.size(), 1u);
    const QJsonObject& record = records[0];

    const QStringList keys = record.keys();
    EXPECT_EQ(std::set<QString>(keys.begin(), keys.end()),
              (std::set<QString>{"started", "ended", "host", "port", "device", "settings", "image", "unitType", "model",
                                 "identity", "steps", "method", "result", "failure", "exitCode", "message"}));
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
    EXPECT_EQ(RunCli(RunArguments(refused, {"--log", LogPath()})).ExitCode, kExitCancelled);
    EXPECT_EQ(RunCli(RunArguments(failing, {"--log", LogPath()})).ExitCode, kExitEraseFailed);
    EXPECT_EQ(RunCli(RunArguments(booted, {"--log", LogPath(), "--yes"})).ExitCode, kExitSuccess);

    const std::vector<QJsonObject> records = LogRecords(LogPath());
    ASSERT_EQ(records.size(), 3u);
    for (const QJsonObject& record : records) ExpectTimesConsistent(record);

    EXPECT_EQ(Text(records[0], "port"), refused.PortPath());
    EXPECT_EQ(Text(records[0], "method"), "user");
    EXPECT_EQ(Text(records[0], "userMethodFailure"), "No reply to start command");
    EXPECT_EQ(Text(records[0], "result"), "failure");
    EXPECT_EQ(Text(records[0], "failure"), "cancelled");
    EXPECT_EQ(records[0].value("exitCode").toInt(), kExitCancelled);
    EXPECT_EQ(Text(records[0], "message"), "Connect Cancelled by User");
    EXPECT_EQ(Text(records[0], "identity"), "");
    EXPECT_EQ(StepNames(records[0]),
              (std::vector<std::string>{"wizard", "port-settings", "connect-user", "boot-question"}));

    EXPECT_EQ(Text(records[1], "port"), failing.PortPath());
    EXPECT_EQ(Text(records[1], "failure"), "erase-failed");
    EXPECT_EQ(records[1].value("exitCode").toInt(), kExitEraseFailed);
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

// A log in a folder that does not exist, and a folder in place of a file.
class CliUnwritableLog : public CliLog, public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(CliUnwritableLog, IsAUsageErrorBeforeTheUnitIsTouched)
{
    TUnitSim& unit = StartUnit();
    std::filesystem::create_directory(Scratch() + "/folder");
    const std::string path = Scratch() + GetParam().first;
    const TCliResult result = RunCli(RunArguments(unit, {"--log", path, "--yes"}));
    EXPECT_EQ(result.ExitCode, kExitUsage);
    EXPECT_EQ(Lines(result.Err), (std::vector<std::string>{"morvex-flash-cli: Cannot open the log " + path +
                                                           " for appending: " + GetParam().second}));
    EXPECT_EQ(result.Out, "");
    EXPECT_TRUE(UnitSawNothing(unit)) << unit.Transcript().size() << " frames";
    EXPECT_EQ(LockPort(unit.PortPath()), "");
}

INSTANTIATE_TEST_SUITE_P(Paths, CliUnwritableLog,
                         ::testing::Values(std::make_pair("/missing/runs.jsonl", "No such file or directory"),
                                           std::make_pair("/folder", "Is a directory")),
                         [](const auto& info) {
                             return std::string(info.param.first)[1] == 'm' ? "MissingFolder" : "Folder";
                         });
}
