// Whole programming runs, the real run answered by the scripted operator,
// against the simulated unit pacing its line, set against the floor the
// line itself imposes: every byte of the exchange at its bit rate, the
// pauses the protocol prescribes and the unit's erase time. Then, unpaced,
// what the host spends per program and per read block.
#include "target/unitmodels.h"
#include "tests/support/scriptedoperator.h"
#include "tools/mkimage/recordbuilder.h"
#include "tools/unitsim/unitsim.h"

#include <QCoreApplication>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kEraseMs = 1000;
// EstablishLink's settle pause, the pause after "ERAS", the two of "PROG"
// and the one of "READ".
constexpr double kProtocolPausesMs = 500 + 100 + 100 + 100 + 100;
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit

template <class Duration>
double Seconds(Duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::vector<uint8_t> ModelImage(uint32_t unitType, uint16_t seed)
{
    const uint32_t start = ModelFlashStart(unitType);
    const uint32_t end = start + ModelFlashSize(unitType);
    std::vector<uint8_t> image(end, 0x00);
    uint32_t x = 2463534242u;
    uint16_t sum = seed;
    for (uint32_t i = start; i + 2 < end; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<uint8_t>(x);
        sum = static_cast<uint16_t>(sum + image[i]);
    }
    image[end - 2] = static_cast<uint8_t>(sum >> 8);
    image[end - 1] = static_cast<uint8_t>(sum);
    return image;
}

constexpr size_t kStepCount = static_cast<size_t>(TRunStep::Reset) + 1;

// The line time of every byte the unit heard or sent, booked to the step
// the run was in. The unit records a host frame once it has read it, before
// it answers, so the host is still waiting in that step; the unit's answer
// is recorded only after its last byte has left, when the host may already
// have gone on, so it goes to the step of the host frame it answers.
class TLineBook {
public:
    struct TFigures {
        double LineMs = 0;
        size_t Bytes = 0;
        size_t HostFrames = 0;
    };
    void Begin(TRunStep step)
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStep = static_cast<size_t>(step);
    }
    void Record(const TSimFrame& frame)
    {
        if (frame.Direction == sdEvent || frame.BitRate == 0) return;
        std::lock_guard<std::mutex> lock(FMutex);
        if (frame.Direction == sdHostToUnit) FAnswered = FStep;
        TFigures& figures = FSteps[FAnswered];
        figures.Bytes += frame.Line.size();
        if (frame.Direction == sdHostToUnit) ++figures.HostFrames;
        figures.LineMs += 1000.0 * kBitsPerByte * static_cast<double>(frame.Line.size()) / frame.BitRate;
    }
    TFigures Of(TRunStep step) const
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return FSteps[static_cast<size_t>(step)];
    }

private:
    mutable std::mutex FMutex;
    size_t FStep = 0;
    size_t FAnswered = 0; // the step of the last host frame
    std::array<TFigures, kStepCount> FSteps{};
};

// The pauses the protocol prescribes in a step, and the unit's erase time.
double PausesMs(TRunStep step)
{
    switch (step) {
    case TRunStep::ConnectUser:
    case TRunStep::ConnectBoot: return 500;
    case TRunStep::Erase: return 100 + kEraseMs;
    case TRunStep::Program: return 200;
    case TRunStep::Verify: return 100;
    default: return 0;
    }
}

// The record of the model's image and the digest the build would store.
TBuiltRecord ModelRecord(uint32_t unitType, uint16_t seed)
{
    return BuildStoredImageWithDigest(ModelImage(unitType, seed), "bench", unitType, GetPassPhrase());
}

// One run from Start to the last message; raises when it does not program
// the unit.
void RunToSuccess(TScriptedOperator& runOperator, const std::string& portPath)
{
    runOperator.Answers.PortPath = portPath;
    const TRunOutcome outcome = runOperator.Execute();
    if (!outcome.Succeeded) throw std::runtime_error(outcome.FailureClass + ": " + outcome.Message);
}

void PacedRun(const char* title, uint32_t unitType)
{
    TLineBook book;
    TUnitSimOptions options;
    options.UnitType = unitType;
    options.Paced = true;
    options.EraseMs = kEraseMs;
    options.KeepTranscript = false;
    options.OnFrame = [&book](const TSimFrame& frame) { book.Record(frame); };
    TUnitSim unit(options);
    const TBuiltRecord record = ModelRecord(unitType, options.ChecksumSeed);
    TScriptedOperator runOperator(*record.Record, record.Digest);
    runOperator.OnStep = [&book](TRunStep step) { book.Begin(step); };
    RunToSuccess(runOperator, unit.PortPath());
    const TRunReport& report = runOperator.Report();

    std::printf("%s: area %u bytes at %u bit/s\n", title, ModelFlashSize(unitType), ModelProgramRate(unitType));
    std::printf("  %-13s %10s %10s %8s %12s\n", "step", "time ms", "floor ms", "frames", "extra/frame");
    double floorMs = 0;
    size_t lineBytes = 0;
    double lineMs = 0;
    for (const TStepRecord& step : report.Steps) {
        const TLineBook::TFigures line = book.Of(step.Step);
        const double ms = 1000.0 * step.Seconds;
        const double stepFloorMs = line.LineMs + PausesMs(step.Step);
        std::printf("  %-13s %10.1f %10.1f %8zu %9.0f us\n", RunStepName(step.Step), ms, stepFloorMs, line.HostFrames,
                    line.HostFrames ? 1000.0 * (ms - stepFloorMs) / line.HostFrames : 0.0);
        floorMs += stepFloorMs;
        lineBytes += line.Bytes;
        lineMs += line.LineMs;
    }
    const double totalMs = 1000.0 * Seconds(report.Ended - report.Started);
    std::printf("  run %.1f ms, floor %.1f ms (%zu bytes on the line %.1f ms + pauses %.0f ms + erase %d ms)\n",
                totalMs, floorMs, lineBytes, lineMs, kProtocolPausesMs, kEraseMs);
    std::printf("  ratio %.3f\n", totalMs / floorMs);
}

// The program and verify steps of an unpaced run, less their prescribed
// pauses, per block: the host's own time per block, with the area's
// extraction, the image check and the comparison that the steps include.
void UnpacedBlocks()
{
    const uint32_t unitType = 5;
    TUnitSimOptions options;
    options.UnitType = unitType;
    options.KeepTranscript = false;
    TUnitSim unit(options);
    const TBuiltRecord record = ModelRecord(unitType, options.ChecksumSeed);
    TScriptedOperator runOperator(*record.Record, record.Digest);
    RunToSuccess(runOperator, unit.PortPath());

    double programMs = 0;
    double verifyMs = 0;
    for (const TStepRecord& step : runOperator.Report().Steps) {
        if (step.Step == TRunStep::Program) programMs = 1000.0 * step.Seconds - PausesMs(step.Step);
        if (step.Step == TRunStep::Verify) verifyMs = 1000.0 * step.Seconds - PausesMs(step.Step);
    }
    const uint32_t size = ModelFlashSize(unitType);
    const double programBlocks = size / 128.0;
    const double readBlocks = size / 32.0;
    std::printf("Unpaced host time, %u-byte area (program and verify steps, pauses taken out):\n", size);
    std::printf("  program block (128 bytes)  %7.1f us  (%.0f blocks, %.1f ms)\n", 1000.0 * programMs / programBlocks,
                programBlocks, programMs);
    std::printf("  read block (32 bytes)      %7.1f us  (%.0f blocks, %.1f ms)\n", 1000.0 * verifyMs / readBlocks,
                readBlocks, verifyMs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    try {
        PacedRun("7100 family, user method", 5);
        PacedRun("Programmer, user method", 0);
        UnpacedBlocks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "run failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
