#include "cli/runlog.h"

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
        {"started", Q(IsoUtc(report.Started))},
        {"ended", Q(IsoUtc(report.Ended))},
        {"host", Q(context.Host)},
        {"port", Q(context.Port)},
        {"device", Q(context.Device)},
        {"settings", QJsonObject{{"baud", Q(context.BaudRate)},
                                 {"dataBits", Q(context.DataBits)},
                                 {"stopBits", Q(context.StopBits)},
                                 {"parity", Q(context.Parity)}}},
        {"image", Q(context.ImageName)},
        {"unitType", qint64(context.UnitType)},
        {"model", Q(context.Model)},
        {"identity", Q(report.IdentityText)},
        {"steps", steps},
        {"method", MethodUsed(report)},
        {"result", report.Succeeded ? "success" : "failure"},
        {"failure", FailureKindName(report.Failure)},
        {"exitCode", context.ExitCode},
        {"message", Q(report.Message)},
    };
    if (!context.UserMethodFailure.empty()) record.insert("userMethodFailure", Q(context.UserMethodFailure));
    if (!report.BackgroundFailures.empty()) {
        QJsonArray failures;
        for (const std::string& failure : report.BackgroundFailures) failures.append(Q(failure));
        record.insert("backgroundFailures", failures);
    }
    return record;
}
