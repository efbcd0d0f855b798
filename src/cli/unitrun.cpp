#include "cli/unitrun.h"

#include "cli/adapterwarning.h"
#include "cli/exitcodes.h"
#include "cli/imageinfo.h"
#include "cli/runlog.h"
#include "cli/terminaloperator.h"
#include "image/storedimage.h"
#include "run/programmingrun.h"
#include "serial/comsetup.h"
#include "serial/devicechannel.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSysInfo>
#include <cstdio>

namespace {
std::string UserMethodFailure(const TProgrammingRun& run)
{
    if (!run.UserMethodFailure()) return "";
    try {
        std::rethrow_exception(run.UserMethodFailure());
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
    }
    return "";
}

TRunContext Context(const TProgrammingRun& run, const TCliOptions& options, int exitCode)
{
    TRunContext context;
    context.Host = QSysInfo::machineHostName().toStdString();
    context.Port = options.Port;
    context.Device = PortDevicePath(options.Port);
    context.BaudRate = BaudRateToText(options.BaudRate);
    context.DataBits = DataBitsToText(options.DataBits);
    context.StopBits = StopBitsToText(options.StopBits);
    context.Parity = ParityToText(options.Parity);
    context.ImageName = GetImageName(run.Image());
    context.UnitType = UnitType(run.Image());
    context.Model = UnitModelName(context.UnitType);
    context.UserMethodFailure = UserMethodFailure(run);
    context.ExitCode = exitCode;
    return context;
}

// The record of a run that could not begin: the image is not one to program.
TRunReport ImageInvalidReport()
{
    TRunReport report;
    report.Started = report.Ended = std::chrono::system_clock::now();
    report.Failure = TFailureKind::ImageInvalid;
    report.Message = NoValidImage;
    return report;
}

// The last line of a child's feed: what its parent's summary shows.
void FeedResult(const TRunReport& report, int exitCode)
{
    const QJsonObject result{{"feed", "result"},
                             {"identity", QString::fromStdString(report.IdentityText)},
                             {"result", report.Succeeded ? "success" : "failure"},
                             {"failure", FailureKindName(report.Failure)},
                             {"message", QString::fromStdString(report.Message)},
                             {"exitCode", exitCode}};
    std::fprintf(stdout, "%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}
}

std::string ProgramName() { return QCoreApplication::applicationName().toStdString(); }

std::string OpenRunLog(TRunLog& log, const TCliOptions& options)
{
    if (options.LogPath.empty()) return "";
    return log.Open(options.LogPath);
}

TUnitResult ExecuteUnitRun(TProgrammingRun& run, TTerminalOperator& runOperator, const TCliOptions& options,
                           bool adapterWarning)
{
    TUnitResult result;
    if (!IsImageValid(run.Image())) {
        std::fprintf(stderr, "%s\n", NoValidImage);
        result.Report = ImageInvalidReport();
        result.ExitCode = ecImageInvalid;
        return result;
    }
    runOperator.Configure(options);
    if (adapterWarning && !options.Quiet) {
        const std::string warning =
            LatencyWarning(options.Port, SerialPortFacts(options.Port), ReadBackOf(run.Image()));
        std::fprintf(stderr, "%s", warning.c_str());
    }
    run.Execute();
    result.Report = run.Report();
    result.ExitCode = result.Report.Succeeded ? ecSuccess : ExitCodeFor(result.Report.Failure);
    return result;
}

int FinishUnitRun(const TProgrammingRun& run, const TCliOptions& options, TRunLog& log, const TUnitResult& result)
{
    int exitCode = result.ExitCode;
    if (log.IsOpen()) {
        const std::string error = log.Append(RunRecord(result.Report, Context(run, options, exitCode)));
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), error.c_str());
            // A bench that finds no record has no proof of the unit. A
            // failure keeps its own code, which says more about the unit.
            if (exitCode == ecSuccess) {
                std::fprintf(stderr, "%s: the unit was programmed, but its record is not in the log\n",
                             ProgramName().c_str());
                exitCode = ecLogNotWritten;
            }
        }
    }
    if (options.ProgressFeed) FeedResult(result.Report, exitCode);
    return exitCode;
}
