// Whole programming runs (the real run: cabling page, settings, connect,
// decipher, check, erase, program, verify, reset) against a simulated unit
// on a pseudo-terminal whose replies are spoiled at frames a seed chooses:
// random bytes instead of the reply, random noise before it, silence, half
// a reply, a late reply, a hang-up, or a wrong flash area in the identity.
// Each seed gives the same plan every time. The run is answered by the
// scripted operator: Next, the unit's port, and Yes to the boot method only
// in plans that connect by it (whose firmware ignores its user command).
//
// What must hold, run after run: the run ends (a watchdog aborts a run that
// lasts 90 s, far beyond what its time-outs can add up to), it ends either in success or
// with one of the system's exceptions carrying a message, it leaves its port
// closed, a success means the unit's flash really holds the image's area,
// and a run in which a reply the host relies on went missing, short or
// spoiled never succeeds. The sanitizers watch for memory errors and
// undefined behaviour meanwhile.
//
//   fuzz_hostrun [--first-seed N] [--runs N] [--seconds S] [--plans]
// runs seeds N, N+1, ... until either limit is reached (default: 1, 100
// runs, no time limit), then prints what the runs ended with; --plans
// prints each run's plan and ending as it goes.
#include "serial/devicechannel.h"
#include "target/unitmodels.h"
#include "tests/support/scriptedoperator.h"
#include "tools/mkimage/recordbuilder.h"
#include "tools/unitsim/unitsim.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// Short time-outs keep the runs quick; the late replies are drawn around them.
constexpr int kConnectAttemptMs = 30;
constexpr int kReplyMs = 150;
constexpr int kTransferMs = 400;
constexpr int kLongestRunSeconds = 90;

struct TRunPlan {
    uint32_t UnitType = 3;
    uint8_t Method = kUserMethod;
    TUnitSimOptions Options;
    uint32_t ImageSalt = 0;
};

// How many frames of a phase a run of this model has, roughly: faults are
// aimed inside that range so that most of them strike.
int FramesOfPhase(TFramePhase phase, uint32_t flashSize)
{
    switch (phase) {
    case fpIdentity: return 10;
    case fpProgramBlock: return static_cast<int>(flashSize / 128);
    case fpReadBlock: return static_cast<int>(flashSize / 32);
    default: return 2;
    }
}

TUnitFault RandomFault(std::mt19937& rng, uint32_t flashSize)
{
    auto pick = [&rng](int below) { return static_cast<int>(rng() % static_cast<uint32_t>(below)); };
    TUnitFault fault;
    fault.Phase = static_cast<TFramePhase>(pick(fpReset + 1));
    fault.Index = pick(8) == 0 ? -1 : pick(FramesOfPhase(fault.Phase, flashSize));
    const int kind = pick(100);
    if (kind < 50) {
        fault.Kind = fkWrongReply;
        // A quarter with no bytes: the reply with its first byte spoiled.
        fault.Bytes.resize(pick(4) == 0 ? 0 : static_cast<size_t>(1 + pick(48)));
        for (uint8_t& b : fault.Bytes) b = static_cast<uint8_t>(rng());
    } else if (kind < 65) {
        fault.Kind = fkNoise;
        fault.Value = 1 + pick(64);
    } else if (kind < 75) {
        fault.Kind = fkShortReply;
    } else if (kind < 85) {
        fault.Kind = fkSilence;
    } else if (kind < 90) {
        // At one frame only: late replies within the time-out at every one
        // of thousands of blocks would make a run long, though not endless.
        fault.Kind = fkSlowReply;
        fault.Value = 20 + pick(2 * kTransferMs);
        if (fault.Index < 0) fault.Index = pick(FramesOfPhase(fault.Phase, flashSize));
    } else if (kind < 95) {
        fault.Kind = fkHangUp;
    } else {
        fault.Kind = pick(2) ? fkWrongStart : fkWrongSize;
        fault.Value = pick(2) ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(pick(0x20001));
        if (pick(2)) fault.Phase = fpIdentity;
    }
    return fault;
}

TRunPlan MakePlan(uint32_t seed)
{
    std::mt19937 rng(seed);
    TRunPlan plan;
    plan.UnitType = rng() % 15;
    plan.Method = rng() % 4 == 0 ? kBootMethod : kUserMethod;
    TUnitSimOptions& options = plan.Options;
    options.UnitType = plan.UnitType;
    options.ChecksumSeed = static_cast<uint16_t>(rng());
    options.KeepTranscript = false;
    if (plan.Method == kBootMethod) {
        options.FirmwareAnswersUserCommand = false;
        options.AutoResetAfterConnectWords = static_cast<int>(rng() % 4);
    }
    const int faults = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < faults; ++i) options.Faults.push_back(RandomFault(rng, ModelFlashSize(plan.UnitType)));
    plan.ImageSalt = rng();
    return plan;
}

// Faults that no sound host survives: a reply that it checks is missing,
// cut short, has its first byte spoiled, or the line is gone. Not so at the
// identity (pings discard the text), the connect exchanges of a plan that
// connects by the boot method (the firmware ignores the user command that
// comes first anyway, and the connect word is retried) or the restart
// command (it has no reply). The firmware of type 14
// answers each of the host's input purges, and the host purges more than
// once while it connects: it reads whichever answer lands after its last
// purge, so only spoiling every answer is sure to matter.
bool Decisive(const TUnitFault& fault, const TRunPlan& plan)
{
    if (fault.Phase == fpIdentity || fault.Phase == fpReset) return false;
    if (fault.Phase == fpConnect && plan.Method == kBootMethod) return false;
    if (fault.Phase == fpConnect && plan.UnitType == 14 && fault.Index >= 0) return false;
    return fault.Kind == fkSilence || fault.Kind == fkShortReply || fault.Kind == fkHangUp ||
           (fault.Kind == fkWrongReply && fault.Bytes.empty());
}

// The faults that struck, as the unit names them at the end of a frame's
// label: "... (silence@erase, noise@erase=3)".
class TStruckFaults {
public:
    void Record(const TSimFrame& frame)
    {
        const std::string& label = frame.Label;
        const size_t open = label.rfind(" (");
        if (open == std::string::npos || label.empty() || label.back() != ')') return;
        const std::string names = label.substr(open + 2, label.size() - open - 3);
        std::lock_guard<std::mutex> lock(FMutex);
        for (size_t from = 0; from <= names.size();) {
            const size_t comma = std::min(names.find(", ", from), names.size());
            FNames.push_back(names.substr(from, comma - from));
            from = comma + 2;
        }
    }
    bool Struck(const TUnitFault& fault) const
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return std::find(FNames.begin(), FNames.end(), FaultToText(fault)) != FNames.end();
    }

private:
    mutable std::mutex FMutex;
    std::vector<std::string> FNames;
};

// The plan in one line, to reproduce a finding.
std::string DescribePlan(uint32_t seed, const TRunPlan& plan)
{
    std::string text = "seed " + std::to_string(seed) + ": unit type " + std::to_string(plan.UnitType) +
                       (plan.Method == kBootMethod ? ", boot method" : ", user method") + ", faults";
    for (const TUnitFault& fault : plan.Options.Faults) text += " " + FaultToText(fault);
    return text;
}

// A whole-flash image for the model, from address 0 to the end of its area,
// whose area ends in the checksum word that the unit's seed asks for.
std::vector<uint8_t> BuildImage(uint32_t unitType, uint16_t seed, uint32_t salt)
{
    const uint32_t start = ModelFlashStart(unitType);
    const uint32_t length = start + ModelFlashSize(unitType);
    std::vector<uint8_t> bytes(length);
    std::mt19937 rng(salt);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    uint16_t sum = seed;
    for (uint32_t i = start; i < length - 2; ++i) sum = static_cast<uint16_t>(sum + bytes[i]);
    bytes[length - 2] = static_cast<uint8_t>(sum >> 8);
    bytes[length - 1] = static_cast<uint8_t>(sum);
    return bytes;
}

// The run builds its flash target itself and connects at once; the first
// thing either connection method does, before it reads any time-out, is
// to show "Connecting...". That is where the short time-outs go in.
bool ShortenTimeouts(THitachiFlash* target)
{
    if (!target) return false;
    TFDTTimeouts& timeouts = target->Device()->Timeouts();
    timeouts.ConnectAttempt = kConnectAttemptMs;
    timeouts.Reply = kReplyMs;
    timeouts.Transfer = kTransferMs;
    target->Device()->Channel()->SetReplyTimeout(kReplyMs);
    return true;
}

// Aborts the process when the run it watches outlasts its limit.
class TWatchdog {
public:
    TWatchdog() : FThread([this] { Watch(); }) {}
    ~TWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FStop = true;
        }
        FWake.notify_all();
        FThread.join();
    }
    void Arm(const std::string& plan)
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FPlan = plan;
        FDeadline = TClock::now() + std::chrono::seconds(kLongestRunSeconds);
        FArmed = true;
    }
    void Disarm()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FArmed = false;
    }

private:
    void Watch()
    {
        std::unique_lock<std::mutex> lock(FMutex);
        while (!FStop) {
            FWake.wait_for(lock, std::chrono::milliseconds(200));
            if (FArmed && TClock::now() > FDeadline) {
                std::fprintf(stderr, "FINDING: %s: the run did not end within %d s\n", FPlan.c_str(),
                             kLongestRunSeconds);
                std::abort();
            }
        }
    }
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FStop = false;
    bool FArmed = false;
    std::string FPlan;
    TClock::time_point FDeadline;
    std::thread FThread;
};

struct TTally {
    int Runs = 0;
    int ShortenedTargets = 0;
    int Successes = 0;
    int Findings = 0;
    double LongestSeconds = 0;
    uint32_t LongestSeed = 0;
    std::map<std::string, int> Endings;
};

void Finding(TTally& tally, const std::string& plan, const std::string& what)
{
    ++tally.Findings;
    std::fprintf(stderr, "FINDING: %s: %s\n", plan.c_str(), what.c_str());
}

// One seeded run from Start to the last message, as the operator sees it.
void RunSeed(uint32_t seed, bool printPlan, TWatchdog& watchdog, TTally& tally)
{
    const TRunPlan plan = MakePlan(seed);
    const std::string described = DescribePlan(seed, plan);
    const auto started = TClock::now();
    watchdog.Arm(described);

    TStruckFaults struck;
    TUnitSimOptions options = plan.Options;
    options.OnFrame = [&struck](const TSimFrame& frame) { struck.Record(frame); };
    TUnitSim unit(options);
    const std::vector<uint8_t> image = BuildImage(plan.UnitType, plan.Options.ChecksumSeed, plan.ImageSalt);
    const TBuiltRecord record = BuildStoredImageWithDigest(image, "fuzz", plan.UnitType, GetPassPhrase());

    TScriptedOperator runOperator(*record.Record, record.Digest);
    runOperator.Answers.PortPath = unit.PortPath();
    runOperator.Answers.BootYes = plan.Method == kBootMethod;
    runOperator.OnStatus = [&](const std::string& text) {
        if (text == "Connecting..." && ShortenTimeouts(runOperator.Run().Flash())) ++tally.ShortenedTargets;
    };
    const TRunOutcome outcome = runOperator.Execute();

    std::string ending = "success";
    if (!outcome.Succeeded) {
        ending = outcome.Message;
        // A declined boot method ends every plan whose user method failed:
        // what failed is the interesting part.
        if (!outcome.Question.empty() && !runOperator.Answers.BootYes)
            ending = "user method: " + FailureInQuestion(outcome.Question) + " (boot method declined)";
        if (!outcome.SystemFailure)
            Finding(tally, described, "foreign exception " + outcome.FailureClass + ": " + outcome.Message);
        else if (outcome.Message.empty())
            Finding(tally, described, "a failure without a message: " + outcome.FailureClass);
    }
    // A run that failed to connect keeps its target until the next run, as
    // under the window; its port must be closed all the same.
    if (THitachiFlash* left = runOperator.Run().Flash(); left && left->Device()->Channel()->Connected())
        Finding(tally, described, "the run left its port open");
    for (const std::string& failure : runOperator.BackgroundFailures()) ++tally.Endings["keep-alive: " + failure];

    if (outcome.Succeeded) {
        ++tally.Successes;
        const std::vector<uint8_t> flash = unit.Flash();
        const uint32_t start = ModelFlashStart(plan.UnitType);
        const uint32_t size = ModelFlashSize(plan.UnitType);
        if (flash.size() < start + size || std::memcmp(flash.data() + start, image.data() + start, size) != 0)
            Finding(tally, described, "the run reported success but the unit's flash does not hold the image");
        for (const TUnitFault& fault : plan.Options.Faults)
            if (Decisive(fault, plan) && struck.Struck(fault))
                Finding(tally, described, "the run reported success although " + FaultToText(fault) + " struck");
    }

    watchdog.Disarm();
    const double seconds = std::chrono::duration<double>(TClock::now() - started).count();
    if (seconds > tally.LongestSeconds) {
        tally.LongestSeconds = seconds;
        tally.LongestSeed = seed;
    }
    ++tally.Runs;
    ++tally.Endings[ending];
    if (printPlan) std::printf("%s -> %s (%.2f s)\n", described.c_str(), ending.c_str(), seconds);
}

long Argument(int argc, char** argv, const char* name, long fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const uint32_t firstSeed = static_cast<uint32_t>(Argument(argc, argv, "--first-seed", 1));
    const long runs = Argument(argc, argv, "--runs", 100);
    const long seconds = Argument(argc, argv, "--seconds", 0);
    const bool printPlans = std::find_if(argv + 1, argv + argc,
                                         [](const char* a) { return std::strcmp(a, "--plans") == 0; }) != argv + argc;

    // A keep-alive failure between steps has no caller: the operator
    // collects it, and it counts as an ending.
    TTally tally;

    TWatchdog watchdog;
    const auto started = TClock::now();
    for (long i = 0; i < runs; ++i) {
        if (seconds > 0 && TClock::now() - started >= std::chrono::seconds(seconds)) break;
        RunSeed(firstSeed + static_cast<uint32_t>(i), printPlans, watchdog, tally);
    }

    std::printf("runs: %d (seeds %u to %u), successes: %d, findings: %d, longest run: %.2f s (seed %u)\n", tally.Runs,
                firstSeed, firstSeed + static_cast<uint32_t>(std::max(tally.Runs, 1)) - 1, tally.Successes,
                tally.Findings, tally.LongestSeconds, tally.LongestSeed);
    std::printf("flash targets connected with the short time-outs: %d\n", tally.ShortenedTargets);
    std::vector<std::pair<int, std::string>> endings;
    for (const auto& [text, count] : tally.Endings) endings.emplace_back(count, text);
    std::sort(endings.rbegin(), endings.rend());
    for (const auto& [count, text] : endings) std::printf("%6d  %s\n", count, text.c_str());
    return tally.Findings > 0 ? 1 : 0;
}
