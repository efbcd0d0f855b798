// The run log's schema as the documentation states it, checked against
// real records: the field tables of docs/command-line.md and the manual
// page are read, and every field they name must be in the records the
// program wrote (a field "only when" something happened in at least one
// record where it did), with a documented JSON type; no record may hold a
// field the documentation does not name.
#include "clifixture.h"

#include "cli/runlog.h"
#include "target/unitmodels.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <map>
#include <regex>
#include <set>

namespace {

struct TDocumentedField {
    std::string Types; // "string", "object or null", ...
    bool Conditional;  // "only when ...": not in every record
};

// The rows of the field table in the command-line guide's run-log section.
std::map<std::string, TDocumentedField> GuideFields()
{
    const std::string text = ReadText(MORVEX_SOURCE_DIR "/docs/command-line.md");
    const size_t begin = text.find("### The run log");
    const std::string section = text.substr(begin, text.find("\n### ", begin + 1) - begin);
    std::map<std::string, TDocumentedField> fields;
    const std::regex row(R"(\n\| `([A-Za-z.\[\]]+)` \| ([a-z ]+) \| ([^\n]*) \|)");
    for (auto it = std::sregex_iterator(section.begin(), section.end(), row); it != std::sregex_iterator(); ++it)
        fields[(*it)[1]] = {(*it)[2], (*it)[3].str().rfind("only when", 0) == 0};
    return fields;
}

// The entries of the manual page's RUN LOG section, with their types.
std::map<std::string, std::string> ManualPageFields()
{
    const std::string text = ReadText(MORVEX_SOURCE_DIR "/docs/man/morvex-flash-cli.1");
    const size_t begin = text.find(".SH RUN LOG");
    const std::string section = text.substr(begin, text.find("\n.SH ", begin + 1) - begin);
    std::map<std::string, std::string> fields;
    const std::regex entry(R"(\n\.TP\n\.B (\S+)\n\(([a-z ]+)\))");
    for (auto it = std::sregex_iterator(section.begin(), section.end(), entry); it != std::sregex_iterator(); ++it)
        fields[(*it)[1]] = (*it)[2];
    return fields;
}

const char* TypeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null: return "null";
    case QJsonValue::Bool: return "boolean";
    case QJsonValue::Double: return "number";
    case QJsonValue::String: return "string";
    case QJsonValue::Array: return "array";
    case QJsonValue::Object: return "object";
    case QJsonValue::Undefined: break;
    }
    return "undefined";
}

// The values a documented path ("steps[].seconds") names in a record;
// complete is false when a part of the path is missing anywhere.
std::vector<QJsonValue> ValuesAt(const QJsonObject& record, const std::string& path, bool& complete)
{
    std::vector<QJsonValue> values{record};
    complete = true;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('.', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        const bool array = part.size() > 2 && part.compare(part.size() - 2, 2, "[]") == 0;
        if (array) part.resize(part.size() - 2);
        std::vector<QJsonValue> next;
        for (const QJsonValue& value : values) {
            const QJsonObject object = value.toObject();
            if (!value.isObject() || !object.contains(QString::fromStdString(part))) {
                complete = false;
                continue;
            }
            const QJsonValue field = object.value(QString::fromStdString(part));
            if (!array) {
                next.push_back(field);
            } else if (field.isArray()) {
                for (const QJsonValue& element : field.toArray()) next.push_back(element);
            } else {
                complete = false;
            }
        }
        values = std::move(next);
        start = end + 1;
    }
    return values;
}

// Every path in a record, in the documentation's notation.
void CollectPaths(const QJsonValue& value, const std::string& path, std::set<std::string>& paths)
{
    if (!path.empty()) paths.insert(path);
    const std::string prefix = path.empty() ? "" : path + ".";
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            CollectPaths(it.value(), prefix + it.key().toStdString(), paths);
    } else if (value.isArray()) {
        for (const QJsonValue& element : value.toArray()) {
            std::set<std::string> inner;
            CollectPaths(element, "", inner);
            for (const std::string& field : inner) paths.insert(path + "[]." + field);
        }
    }
}

// Units whose records between them show every field: a plain success, a
// failed user method that the boot method made good, a verify-only run on
// a unit whose flash differs in a byte.
class LogSchema : public PortFacts {
protected:
    std::vector<QJsonObject> RealRecords()
    {
        const std::string log = Scratch() + "/schema.jsonl";
        EXPECT_EQ(RunCli(RunArguments(StartUnit(), {"--log", log})).ExitCode, ecSuccess);
        TUnitSimOptions bootOnly;
        bootOnly.FirmwareAnswersUserCommand = false;
        bootOnly.AutoResetAfterConnectWords = 0;
        EXPECT_EQ(RunCli(RunArguments(StartUnit(bootOnly), {"--yes", "--log", log})).ExitCode, ecSuccess);
        TUnitSim& differing = StartUnit();
        std::vector<uint8_t> flash = PlainImage();
        flash.at(ModelFlashStart(ImageUnitType()) + 5) ^= 0x01;
        differing.LoadFlash(0, flash);
        EXPECT_EQ(RunCli(RunArguments(differing, {"--verify-only", "--log", log})).ExitCode, ecImageDiffers);
        return LogRecords(log);
    }

    // A pseudo-terminal has no adapter, and a keep-alive that finds the unit
    // gone between steps cannot be timed from outside the program: these
    // parts of a record are built by the program's own record builder, from
    // the facts of a USB adapter in a sysfs tree laid out as the kernel does
    // and from a report that heard of such a failure.
    QJsonObject RecordOnAnAdapter()
    {
        const std::string usb = "/sys/devices/pci0000:00/usb1/1-4";
        Write(usb + "/idVendor", "0403");
        Write(usb + "/idProduct", "6015");
        Write(usb + "/serial", "DQ00XK1");
        Link("/sys/class/tty/ttyUSB4/device", usb + "/1-4:1.0/ttyUSB4");
        Device("ttyUSB4");
        TRunContext context;
        context.PortFacts = SerialPortFacts(Root() + "/dev/ttyUSB4", Sources());
        TRunReport report;
        report.BackgroundFailures = {"No Reply Within Time Out Period"};
        const QJsonObject record = RunRecord(report, context);
        EXPECT_EQ(record.value("adapter").toObject().value("serialNumber").toString(), "DQ00XK1");
        return record;
    }
};

} // namespace

TEST_F(LogSchema, EveryDocumentedFieldIsInRealRecordsWithItsTypeAndNothingElseIs)
{
    const std::map<std::string, TDocumentedField> documented = GuideFields();
    ASSERT_GE(documented.size(), 30u) << "the guide's field table was not found";
    std::map<std::string, std::string> manual = ManualPageFields();
    for (const auto& [name, field] : documented) {
        EXPECT_EQ(manual[name], field.Types) << name << " in the manual page";
        manual.erase(name);
    }
    EXPECT_TRUE(manual.empty()) << "the manual page names " << manual.begin()->first << ", the guide does not";

    std::vector<QJsonObject> records = RealRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].value("schema").toInt(), kRunRecordSchema);
    const size_t realRecords = records.size();
    records.push_back(RecordOnAnAdapter());

    for (const auto& [name, field] : documented) {
        size_t holding = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            bool complete = false;
            const std::vector<QJsonValue> values = ValuesAt(records[i], name, complete);
            if (!complete && !field.Conditional && i < realRecords)
                ADD_FAILURE() << name << " is missing from record " << i;
            if (!complete) continue;
            ++holding;
            for (const QJsonValue& value : values)
                EXPECT_NE(field.Types.find(TypeName(value)), std::string::npos)
                    << name << " is a " << TypeName(value) << ", documented as " << field.Types;
        }
        EXPECT_GT(holding, 0u) << name << " is in no record";
    }

    for (const QJsonObject& record : records) {
        std::set<std::string> paths;
        CollectPaths(record, "", paths);
        for (const std::string& path : paths) EXPECT_EQ(documented.count(path), 1u) << path << " is not documented";
    }
}
