#include "cli/runlog.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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

TRunLog::~TRunLog()
{
    if (FHandle >= 0) close(FHandle);
}

std::string TRunLog::Open(const std::string& path)
{
    FPath = path;
    FHandle = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (FHandle < 0) return "Cannot open the log " + path + " for appending: " + std::strerror(errno);
    return "";
}

std::string TRunLog::Append(const QJsonObject& record)
{
    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    // One write: with O_APPEND the kernel places the whole line at the end
    // of the file, whoever else is appending at the same moment.
    ssize_t written;
    do {
        written = write(FHandle, line.constData(), size_t(line.size()));
    } while (written < 0 && errno == EINTR);
    if (written < 0) return "Cannot append to the log " + FPath + ": " + std::strerror(errno);
    if (written != line.size()) return "Cannot append to the log " + FPath + ": the line was cut short";
    return "";
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
    return record;
}
