// The run log of --log: one JSON object per run on one line, appended to a
// file that several programmers on a bench may share. Each line goes out
// in one write to a file opened for appending, so lines of parallel runs
// never interleave. The record holds what the run did and what the unit
// said, and never a byte of the image or the pass phrase.
#pragma once

#include "run/runsteps.h"
#include "serial/portinfo.h"

#include <QJsonObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// The open log file, as the platform keeps it (runlog_posix.cpp,
// runlog_win32.cpp).
struct TLogFile;

class TRunLog {
public:
    TRunLog();
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;
    ~TRunLog();

    // Opens the file for appending, creating it if need be: "" when that
    // worked, otherwise what went wrong.
    std::string Open(const std::string& path);
    bool IsOpen() const { return FFile != nullptr; }
    // Appends the record as one line: "" when the whole line was written.
    std::string Append(const QJsonObject& record);

private:
    // Writes the whole line in one call: "" when all of it was written.
    std::string WriteLine(const QByteArray& line);
    // Whether the file is empty or ends with a line end. A record that an
    // earlier run could not finish (a full disk, a killed process) leaves a
    // fragment without one, and the next record must not be glued onto it.
    bool EndsWithLineEnd();

    std::unique_ptr<TLogFile> FFile;
    std::string FPath;
};

// The version of the record's layout, its "schema" field. A field that is
// added keeps the version; one that is renamed, removed or changes its
// meaning raises it.
inline constexpr int kRunRecordSchema = 1;

// What the record says beyond the run's own report.
struct TRunContext {
    std::string ProgramVersion;
    std::string Host;
    std::string Port;
    std::string Device; // the device the port name stands for
    std::string BaudRate, DataBits, StopBits, Parity;
    TSerialPortFacts PortFacts; // the adapter's identity, when the port is a USB adapter
    std::string ImageName;
    std::string ImageDigest; // of the plain image, in hex
    uint32_t UnitType = 0;
    std::string Model;
    std::string UserMethodFailure; // why the user method failed, "" when it did not
    bool VerifyOnly = false;       // the run only compared the unit's flash with the image
    int ExitCode = 0;
};

QJsonObject RunRecord(const TRunReport& report, const TRunContext& context);

// A flash address as records and messages show it ("0x1480").
std::string FlashAddressText(int64_t address);

// ISO 8601 in UTC with milliseconds ("2024-05-01T09:30:12.345Z").
std::string IsoUtc(std::chrono::system_clock::time_point time);
