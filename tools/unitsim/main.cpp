// unitsim: a simulated Morvex unit on a pseudo-terminal, for the demo and for
// trying the programmer by hand. Runs until interrupted, serving run after
// run; see --help.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/unitsim/unitsim.h"

namespace {

void PrintHelp(const char* program)
{
    std::printf("Usage: %s [OPTION]...\n"
                "Simulates a Morvex unit at the end of a serial cable. It opens a pseudo-terminal,\n"
                "prints the port a host should open, and answers every frame of the flash loader\n"
                "protocol until it is interrupted (Ctrl+C or SIGTERM). After RSET, or when the host\n"
                "closes the port during a run, the unit goes back to its running firmware, ready\n"
                "for the next run. Press Enter (or send SIGUSR1) to reset the unit as an operator\n"
                "would: it then starts in its boot loader. A host whose divisor or bit rate does\n"
                "not fit the speed change hears garbage, as it would from a real unit. After a\n"
                "hangup fault the unit comes back on a fresh port (an adapter plugged in again),\n"
                "which it prints like the first.\n"
                "\n"
                "Options:\n"
                "  --type N          unit type %s (default 3, Morvex 4620): flash area, user\n"
                "                    command, programming bit rate and identity name\n"
                "  --seed HEX        checksum seed the identity reports (default %X)\n"
                "  --boot-only       the running firmware ignores its user command, so only the\n"
                "                    boot method (operator reset) connects\n"
                "  --reset-after N   the operator resets the unit by itself after N unanswered\n"
                "                    connect words (0: at the first)\n"
                "  --pace            every byte takes its time on the line at the bit rate the\n"
                "                    host set (start, data and stop bits; a pseudo-terminal\n"
                "                    carries no parity)\n"
                "  --erase-ms N      time the erase takes before its status (default 0)\n"
                "  --speed-reply N   byte the unit answers the speed-change request with\n"
                "                    (default 192)\n"
                "  --connect-rate N  bit rate the firmware and boot loader listen at (default\n"
                "                    9600; 0 accepts any)\n"
                "  --name TEXT       unit name in the identity text (default: the model's name)\n"
                "  --fault FAULT     inject a fault; may be given several times (see below)\n"
                "  --link PATH       also make PATH a symbolic link to the port, e.g.\n"
                "                    ~/.morvex-ports/Morvex-4620 (removed at exit); the\n"
                "                    programmer lists the entries of the folder that\n"
                "                    MORVEX_PORT_DIR names, when that folder and its\n"
                "                    entries are yours and nobody else can write to them\n"
                "  --flash-dumps PREFIX  write the unit's 128 KB flash to PREFIX-N.bin each time\n"
                "                    the host resets the unit (RSET; N counts from 1) and to\n"
                "                    PREFIX-final.bin at exit, to compare with the image\n"
                "  --verbose         print every frame: direction, label, plain and line bytes\n"
                "  --help            show this text\n"
                "\n"
                "Faults:\n%s"
                "\n"
                "Examples:\n"
                "  %s --type 5 --pace --erase-ms 800 --link ~/.morvex-ports/Morvex-7100\n"
                "  %s --boot-only --reset-after 3 --verbose\n"
                "  %s --fault 'wrong@erase=%%' --fault slow@read-block#2=800\n",
                program, ModelRangeText().c_str(), kDemoChecksumSeed, FaultHelpText().c_str(), program, program,
                program);
}

uint32_t ParseUnsigned(const char* text, const char* option, int base, uint32_t max)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, base);
    if (*text == '\0' || *end != '\0' || errno != 0 || value > max || *text == '-')
        throw std::invalid_argument(std::string("bad value \"") + text + "\" for " + option);
    return static_cast<uint32_t>(value);
}

std::string Timestamp()
{
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    const auto ms = duration_cast<milliseconds>(steady_clock::now() - start).count();
    char text[32];
    std::snprintf(text, sizeof text, "%7lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

enum TOptionCode {
    ocType = 256,
    ocSeed,
    ocBootOnly,
    ocResetAfter,
    ocPace,
    ocEraseMs,
    ocSpeedReply,
    ocConnectRate,
    ocName,
    ocFault,
    ocLink,
    ocFlashDumps,
    ocVerbose,
    ocHelp
};

// Returns false when the program should stop at once (help shown).
bool ParseOptions(int argc, char** argv, TUnitSimOptions& options, bool& verbose, std::string& dumpPrefix)
{
    static const option kOptions[] = {{"type", required_argument, nullptr, ocType},
                                      {"seed", required_argument, nullptr, ocSeed},
                                      {"boot-only", no_argument, nullptr, ocBootOnly},
                                      {"reset-after", required_argument, nullptr, ocResetAfter},
                                      {"pace", no_argument, nullptr, ocPace},
                                      {"erase-ms", required_argument, nullptr, ocEraseMs},
                                      {"speed-reply", required_argument, nullptr, ocSpeedReply},
                                      {"connect-rate", required_argument, nullptr, ocConnectRate},
                                      {"name", required_argument, nullptr, ocName},
                                      {"fault", required_argument, nullptr, ocFault},
                                      {"link", required_argument, nullptr, ocLink},
                                      {"flash-dumps", required_argument, nullptr, ocFlashDumps},
                                      {"verbose", no_argument, nullptr, ocVerbose},
                                      {"help", no_argument, nullptr, ocHelp},
                                      {nullptr, 0, nullptr, 0}};
    int code;
    while ((code = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        switch (code) {
        case ocType: options.UnitType = ParseUnsigned(optarg, "--type", 10, kSimModelCount - 1); break;
        case ocSeed: options.ChecksumSeed = static_cast<uint16_t>(ParseUnsigned(optarg, "--seed", 16, 0xFFFF)); break;
        case ocBootOnly: options.FirmwareAnswersUserCommand = false; break;
        case ocResetAfter:
            options.AutoResetAfterConnectWords = static_cast<int>(ParseUnsigned(optarg, "--reset-after", 10, 100000));
            break;
        case ocPace: options.Paced = true; break;
        case ocEraseMs: options.EraseMs = static_cast<int>(ParseUnsigned(optarg, "--erase-ms", 10, 600000)); break;
        case ocSpeedReply:
            options.SpeedReply = static_cast<uint8_t>(ParseUnsigned(optarg, "--speed-reply", 0, 255));
            break;
        case ocConnectRate: options.ConnectRate = ParseUnsigned(optarg, "--connect-rate", 10, 4000000); break;
        case ocName: options.IdentityName = optarg; break;
        case ocFault: options.Faults.push_back(ParseFault(optarg)); break;
        case ocLink: options.LinkPath = optarg; break;
        case ocFlashDumps: dumpPrefix = optarg; break;
        case ocVerbose: verbose = true; break;
        case ocHelp: PrintHelp(argv[0]); return false;
        default: throw std::invalid_argument("unknown option (see --help)");
        }
    }
    if (optind < argc) throw std::invalid_argument(std::string("unexpected argument \"") + argv[optind] + "\"");
    return true;
}

// Writes the flash to a file whole: a reader never sees part of it.
void DumpFlash(const std::vector<uint8_t>& flash, const std::string& path)
{
    const std::string partial = path + ".part";
    FILE* file = std::fopen(partial.c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
    if (file != nullptr && std::fclose(file) != 0) ok = false;
    if (!ok || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "unitsim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return;
    }
    std::printf("Flash dump: %s\n", path.c_str());
    std::fflush(stdout);
}

void Announce(const TUnitSim& sim, const TUnitSimOptions& options)
{
    std::printf("Port: %s\n", sim.PortPath().c_str());
    if (!options.LinkPath.empty()) std::printf("Link: %s\n", options.LinkPath.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    TUnitSimOptions options;
    options.KeepTranscript = false;
    bool verbose = false;
    std::string dumpPrefix;
    try {
        if (!ParseOptions(argc, argv, options, verbose, dumpPrefix)) return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unitsim: %s\n", e.what());
        return 2;
    }

    // Signals arrive through a descriptor, on this thread only; the unit's
    // thread inherits the blocked mask. A shell starts background jobs with
    // SIGINT ignored, and an ignored signal never arrives: take it back.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGHUP);
    for (const int signal : {SIGINT, SIGTERM, SIGUSR1, SIGHUP}) std::signal(signal, SIG_DFL);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    const int hungUpFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd < 0 || hungUpFd < 0) {
        std::perror("unitsim");
        return 1;
    }
    // The unit whose flash a dump reads: set once it exists, swapped on the
    // main thread only after a hang-up, when its thread has stopped.
    std::atomic<TUnitSim*> current{nullptr};
    int dumps = 0;
    if (verbose || !dumpPrefix.empty())
        options.OnFrame = [verbose, &dumpPrefix, &current, &dumps](const TSimFrame& frame) {
            if (verbose) {
                std::printf("%s  %s\n", Timestamp().c_str(), DescribeFrame(frame).c_str());
                std::fflush(stdout);
            }
            TUnitSim* unit = current.load();
            if (!dumpPrefix.empty() && unit != nullptr && frame.Direction == sdHostToUnit && frame.Label == "reset")
                DumpFlash(unit->Flash(), dumpPrefix + "-" + std::to_string(++dumps) + ".bin");
        };
    options.OnHangUp = [hungUpFd] {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(hungUpFd, &one, sizeof one);
    };

    std::unique_ptr<TUnitSim> sim;
    try {
        sim = std::make_unique<TUnitSim>(options);
        current = sim.get();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unitsim: %s\n", e.what());
        return 1;
    }
    std::printf("Simulated %s (unit type %u), flash 0x%X+0x%X, programs at %u bit/s\n",
                ModelName(options.UnitType).c_str(), options.UnitType, ModelFlashStart(options.UnitType),
                ModelFlashSize(options.UnitType), ModelProgramRate(options.UnitType));
    for (const TUnitFault& fault : options.Faults) std::printf("Fault: %s\n", FaultToText(fault).c_str());
    Announce(*sim, options);

    bool watchStdin = true;
    for (;;) {
        pollfd fds[3] = {{signalFd, POLLIN, 0}, {hungUpFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, watchStdin ? 3 : 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            if (info.ssi_signo == SIGUSR1) {
                sim->OperatorReset();
                continue;
            }
            break;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(hungUpFd, &count, sizeof count);
            // Like an adapter plugged in again: a fresh port to the same unit.
            std::printf("The unit hung up; plugging it in again.\n");
            const std::vector<uint8_t> flash = sim->Flash();
            current = nullptr;
            sim.reset();
            try {
                sim = std::make_unique<TUnitSim>(options);
                sim->LoadFlash(0, flash);
                current = sim.get();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "unitsim: %s\n", e.what());
                return 1;
            }
            Announce(*sim, options);
        }
        if (watchStdin && (fds[2].revents & (POLLIN | POLLHUP))) {
            char buffer[256];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                watchStdin = false; // no terminal: SIGUSR1 still resets
                continue;
            }
            if (std::memchr(buffer, '\n', static_cast<size_t>(n)) != nullptr) {
                std::printf("Operator reset.\n");
                std::fflush(stdout);
                sim->OperatorReset();
            }
        }
    }
    current = nullptr;
    const std::vector<uint8_t> flash = sim->Flash();
    sim.reset();
    if (!dumpPrefix.empty()) DumpFlash(flash, dumpPrefix + "-final.bin");
    std::printf("Stopped.\n");
    return 0;
}
