#include "cli/unitrun.h"

#include "cli/adapterwarning.h"
#include "cli/exitcodes.h"
#include "cli/imageinfo.h"
#include "cli/portlist.h"
#include "cli/runlog.h"
#include "cli/terminaloperator.h"
#include "cli/usbport.h"
#include "image/storedimage.h"
#include "run/programmingrun.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"
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
    context.ProgramVersion = QCoreApplication::applicationVersion().toStdString();
    context.Host = QSysInfo::machineHostName().toStdString();
    context.Port = options.Port;
    // An adapter name still in the options found no port: there is no device.
    context.Device = options.UsbAdapter ? "" : PortDevicePath(options.Port);
    if (!options.UsbAdapter) context.PortFacts = SerialPortFacts(options.Port);
    context.BaudRate = BaudRateToText(options.BaudRate);
    context.DataBits = DataBitsToText(options.DataBits);
    context.StopBits = StopBitsToText(options.StopBits);
    context.Parity = ParityToText(options.Parity);
    context.ImageName = GetImageName(run.Image());
    context.ImageDigest =
        QByteArray(reinterpret_cast<const char*>(run.Digest().data()), int(run.Digest().size())).toHex().toStdString();
    context.UnitType = UnitType(run.Image());
    context.Model = UnitModelName(context.UnitType);
    context.UserMethodFailure = UserMethodFailure(run);
    context.VerifyOnly = options.VerifyOnly;
    context.ExitCode = exitCode;
    return context;
}

// Where the flash differs from the image, for the operator: the comparison's
// own message counts from the area's start, a bench wants flash addresses.
void PrintDifferences(const TDifferences& differences)
{
    if (differences.First.empty()) return;
    std::string text = "Differing bytes: " + std::to_string(differences.Count) +
                       (differences.Count == 1 ? ", at flash address" : ", the first at flash addresses");
    for (size_t i = 0; i < differences.First.size(); ++i)
        text += (i == 0 ? " " : ", ") + FlashAddressText(differences.First[i]);
    std::fprintf(stderr, "%s\n", text.c_str());
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

TUnitResult NoRun(TFailureKind kind, const std::string& message, int exitCode)
{
    TUnitResult result;
    result.Report.Started = result.Report.Ended = std::chrono::system_clock::now();
    result.Report.Failure = kind;
    result.Report.Message = message;
    result.ExitCode = exitCode;
    return result;
}

std::string ResolveUsbPort(TCliOptions& options)
{
    if (!options.UsbAdapter) return "";
    std::vector<TPortCandidate> candidates;
    try {
        candidates = SerialPortsWithFacts();
    } catch (const EComPort& failure) {
        return failure.what();
    }
    const TPortChoice choice = ChooseUsbPort(options.Port, *options.UsbAdapter, candidates);
    if (!choice.Error.empty()) return choice.Error;
    options.Port = choice.Port;
    options.UsbAdapter.reset();
    return "";
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
        return NoRun(TFailureKind::ImageInvalid, NoValidImage, ecImageInvalid);
    }
    runOperator.Configure(options);
    if (adapterWarning && !options.Quiet) {
        const std::string warning =
            LatencyWarning(options.Port, SerialPortFacts(options.Port), ReadBackOf(run.Image()));
        std::fprintf(stderr, "%s", warning.c_str());
    }
    TRunOptions runOptions = run.Options();
    runOptions.VerifyOnly = options.VerifyOnly;
    run.SetOptions(runOptions);
    run.Execute();
    result.Report = run.Report();
    PrintDifferences(result.Report.Differences);
    result.ExitCode = result.Report.Succeeded ? ecSuccess : ExitCodeFor(result.Report.Failure, options.VerifyOnly);
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
                std::fprintf(stderr, "%s: the unit was %s, but its record is not in the log\n",
                             ProgramName().c_str(), options.VerifyOnly ? "verified" : "programmed");
                exitCode = ecLogNotWritten;
            }
        }
    }
    if (options.ProgressFeed) FeedResult(result.Report, exitCode);
    return exitCode;
}
