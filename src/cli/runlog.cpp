#include "cli/runlog.h"

#include "protocol/loaderprotocol.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }

// The connection method the run used last: the one that connected, or the
// one that failed.
QJsonValue MethodUsed(const TRunReport& report)
{
    QJsonValue method = QJsonValue::Null;
    for (const TStepRecord& step : report.Steps) {
        if (step.Step == TRunStep::ConnectUser) method = "user";
        if (step.Step == TRunStep::ConnectBoot) method = "boot";
    }
    return method;
}
}

namespace {
QJsonValue TextOrNull(const std::string& text) { return text.empty() ? QJsonValue() : QJsonValue(Q(text)); }

// What the unit's identity text says, null when it said nothing readable.
QJsonValue UnitOf(const std::string& identity)
{
    if (identity.empty()) return QJsonValue::Null;
    std::string name;
    uint16_t seed = 0;
    uint32_t start = 0;
    uint32_t size = 0;
    try {
        TFlashFDTDevice::ParseIdentity(identity, name, seed, start, size);
    } catch (const std::exception&) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"name", Q(name)},
                       {"seed", Q(FlashAddressText(seed))},
                       {"flashStart", Q(FlashAddressText(start))},
                       {"flashSize", Q(FlashAddressText(size))}};
}

QJsonValue AdapterOf(const TSerialPortFacts& facts)
{
    if (facts.UsbVendorId.empty()) return QJsonValue::Null;
    return QJsonObject{{"vendorId", Q(facts.UsbVendorId)},
                       {"productId", Q(facts.UsbProductId)},
                       {"serialNumber", TextOrNull(facts.SerialNumber)}};
}
}

std::string FlashAddressText(int64_t address)
{
    return "0x" + QString::number(address, 16).toUpper().toStdString();
}

std::string IsoUtc(std::chrono::system_clock::time_point time)
{
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
}

std::string TRunLog::Append(const QJsonObject& record)
{
    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    if (!EndsWithLineEnd()) line.prepend('\n');
    return WriteLine(line);
}

QJsonObject RunRecord(const TRunReport& report, const TRunContext& context)
{
    QJsonArray steps;
    for (const TStepRecord& step : report.Steps)
        steps.append(QJsonObject{{"step", RunStepName(step.Step)},
                                 {"started", Q(IsoUtc(step.Started))},
                                 {"seconds", std::round(step.Seconds * 1000) / 1000}});
    QJsonObject record{
        {"schema", kRunRecordSchema},
        {"version", Q(context.ProgramVersion)},
        {"started", Q(IsoUtc(report.Started))},
        {"ended", Q(IsoUtc(report.Ended))},
        {"host", Q(context.Host)},
        {"port", Q(context.Port)},
        {"device", Q(context.Device)},
        {"adapter", AdapterOf(context.PortFacts)},
        {"settings", QJsonObject{{"baud", Q(context.BaudRate)},
                                 {"dataBits", Q(context.DataBits)},
                                 {"stopBits", Q(context.StopBits)},
                                 {"parity", Q(context.Parity)}}},
        {"image", Q(context.ImageName)},
        {"imageDigest", Q(context.ImageDigest)},
        {"unitType", qint64(context.UnitType)},
        {"model", Q(context.Model)},
        {"identity", Q(report.IdentityText)},
        {"unit", UnitOf(report.IdentityText)},
        {"steps", steps},
        {"method", MethodUsed(report)},
        {"result", report.Succeeded ? "success" : "failure"},
        {"failure", FailureKindName(report.Failure)},
        {"exitCode", context.ExitCode},
        {"message", Q(report.Message)},
        {"mode", context.VerifyOnly ? "verify-only" : "program"},
    };
    if (!context.UserMethodFailure.empty()) record.insert("userMethodFailure", Q(context.UserMethodFailure));
    if (report.Differences.Count > 0) {
        QJsonArray first;
        for (int64_t address : report.Differences.First) first.append(Q(FlashAddressText(address)));
        record.insert("differences", QJsonObject{{"count", qint64(report.Differences.Count)}, {"first", first}});
    }
    if (!report.BackgroundFailures.empty()) {
        QJsonArray failures;
        for (const std::string& failure : report.BackgroundFailures) failures.append(Q(failure));
        record.insert("backgroundFailures", failures);
    }
    return record;
}
