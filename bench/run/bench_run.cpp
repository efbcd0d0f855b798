// Whole programming runs against the simulated unit pacing its line, set
// against the floor the line itself imposes: every byte of the exchange at
// its bit rate, the pauses the protocol prescribes and the unit's erase
// time. Then, unpaced, what the host spends per program and per read block.
#include "core/memstream.h"
#include "serial/devicechannel.h"
#include "target/unitmodels.h"
#include "tools/unitsim/unitsim.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kEraseMs = 1000;
// EstablishLink's settle pause, the pause after "ERAS", the two of "PROG"
// and the one of "READ".
constexpr double kProtocolPausesMs = 500 + 100 + 100 + 100 + 100;
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit

double Seconds(TClock::duration d) { return std::chrono::duration<double>(d).count(); }

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

std::unique_ptr<THitachiFlash> MakeTarget(uint32_t unitType, TUnitSim& unit, TMorvexComPort& connectPort,
                                          TMorvexComPort& programPort)
{
    connectPort.SetPort(unit.PortPath());
    TConnectInfo info;
    info.Method = kUserMethod;
    info.ConnectPort = &connectPort;
    info.ProgramPort = &programPort;
    std::unique_ptr<THitachiFlash> target;
    CreateFlashTarget(unitType, target, nullptr, nullptr, info);
    return target;
}

// Line time of every byte the unit heard or sent, in milliseconds, and the
// number of the host's frames among them.
double LineTimeMs(const std::vector<TSimFrame>& transcript, size_t& bytes, size_t& hostFrames)
{
    double ms = 0;
    for (const TSimFrame& frame : transcript) {
        if (frame.Direction == sdEvent || frame.BitRate == 0) continue;
        bytes += frame.Line.size();
        if (frame.Direction == sdHostToUnit) ++hostFrames;
        ms += 1000.0 * kBitsPerByte * static_cast<double>(frame.Line.size()) / frame.BitRate;
    }
    return ms;
}

void PacedRun(const char* title, uint32_t unitType)
{
    TUnitSimOptions options;
    options.UnitType = unitType;
    options.Paced = true;
    options.EraseMs = kEraseMs;
    TUnitSim unit(options);
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    std::unique_ptr<THitachiFlash> target = MakeTarget(unitType, unit, connectPort, programPort);
    TMemoryStream image;
    const std::vector<uint8_t> bytes = ModelImage(unitType, options.ChecksumSeed);
    image.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));

    struct TStep {
        const char* Name;
        std::function<void()> Run;
        double PausesMs; // prescribed pauses, and the unit's erase time
    };
    const std::vector<TStep> steps = {
        {"connect", [&] { target->Connect(); }, 500},
        {"check", [&] { target->Check(image); }, 0},
        {"erase", [&] { target->Erase(); }, 100 + kEraseMs},
        {"program", [&] { target->Program(image); }, 200},
        {"verify", [&] { target->Verify(image); }, 100},
        {"reset",
         [&] {
             target->Reset();
             target->ClosePort();
         },
         0},
    };
    std::printf("%s: area %u bytes at %u bit/s\n", title, ModelFlashSize(unitType), ModelProgramRate(unitType));
    std::printf("  %-8s %10s %10s %8s %12s\n", "step", "time ms", "floor ms", "frames", "extra/frame");
    double totalMs = 0;
    double floorMs = 0;
    size_t lineBytes = 0;
    double lineMs = 0;
    for (const TStep& step : steps) {
        unit.ClearTranscript();
        const TClock::time_point begin = TClock::now();
        step.Run();
        const double ms = 1000.0 * Seconds(TClock::now() - begin);
        size_t frames = 0;
        const double stepLineMs = LineTimeMs(unit.Transcript(), lineBytes, frames);
        const double stepFloorMs = stepLineMs + step.PausesMs;
        std::printf("  %-8s %10.1f %10.1f %8zu %9.0f us\n", step.Name, ms, stepFloorMs, frames,
                    frames ? 1000.0 * (ms - stepFloorMs) / frames : 0.0);
        totalMs += ms;
        floorMs += stepFloorMs;
        lineMs += stepLineMs;
    }
    std::printf("  run %.1f ms, floor %.1f ms (%zu bytes on the line %.1f ms + pauses %.0f ms + erase %d ms)\n",
                totalMs, floorMs, lineBytes, lineMs, kProtocolPausesMs, kEraseMs);
    std::printf("  ratio %.3f\n", totalMs / floorMs);
}

void UnpacedBlocks()
{
    const uint32_t unitType = 5;
    TUnitSimOptions options;
    options.UnitType = unitType;
    options.KeepTranscript = false;
    TUnitSim unit(options);
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    std::unique_ptr<THitachiFlash> target = MakeTarget(unitType, unit, connectPort, programPort);
    target->Connect();
    TFlashFDTDevice& device = *target->Device();

    const uint32_t start = ModelFlashStart(unitType);
    const uint32_t size = ModelFlashSize(unitType);
    const std::vector<uint8_t> bytes = ModelImage(unitType, options.ChecksumSeed);
    TMemoryStream area;
    area.WriteBuffer(bytes.data() + start, size);
    device.EraseFlash(start, start + size);

    // The prescribed pauses are not host time: take them out.
    const double fixedProgramMs = 200;
    const double fixedReadMs = 100;
    TClock::time_point begin = TClock::now();
    device.WriteFlash(area, start);
    const double programMs = 1000.0 * Seconds(TClock::now() - begin) - fixedProgramMs;
    TMemoryStream flash;
    begin = TClock::now();
    device.ReadRange(flash, start, start + size);
    const double readMs = 1000.0 * Seconds(TClock::now() - begin) - fixedReadMs;
    target->Reset();
    target->ClosePort();

    const double programBlocks = size / 128.0;
    const double readBlocks = size / 32.0;
    std::printf("Unpaced host time, %u-byte area:\n", size);
    std::printf("  program block (128 bytes)  %7.1f us  (%.0f blocks, %.1f ms)\n", 1000.0 * programMs / programBlocks,
                programBlocks, programMs);
    std::printf("  read block (32 bytes)      %7.1f us  (%.0f blocks, %.1f ms)\n", 1000.0 * readMs / readBlocks,
                readBlocks, readMs);
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
