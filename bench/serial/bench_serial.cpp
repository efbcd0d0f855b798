// Round trips of the read-back exchange (1-byte request, 32-byte reply)
// through a pseudo-terminal against a peer that answers at once: once
// through TMorvexComPort::TransactScrambled, once as a bare loop of the same
// system calls. Prints round trips per second for both and their ratio.
#include "serial/devicechannel.h"

#include <QCoreApplication>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int ReplySize = 32;
using TClock = std::chrono::steady_clock;

// The unit's side: answers every request byte with 32 bytes at once.
// The reply continues the scramble counter from the request, as the link does.
void Answer(int master, int rounds)
{
    uint8_t counter = 0;
    for (int round = 0; round < rounds; ++round) {
        uint8_t request;
        if (read(master, &request, 1) != 1) return;
        ++counter;
        uint8_t reply[ReplySize];
        for (int i = 0; i < ReplySize; ++i) reply[i] = uint8_t(i) ^ counter++;
        if (write(master, reply, ReplySize) != ReplySize) return;
    }
}

// The bare loop: what the port does for one transaction, without it.
double RawLoop(const char* path, int rounds)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) < 0 || ioctl(fd, TIOCEXCL) < 0) {
        std::perror("raw open");
        std::exit(1);
    }
    termios line{};
    tcgetattr(fd, &line);
    cfmakeraw(&line);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &line);
    const auto start = TClock::now();
    for (int round = 0; round < rounds; ++round) {
        tcflush(fd, TCIFLUSH);
        uint8_t request = 0x52;
        if (write(fd, &request, 1) != 1) std::exit(2);
        int queued = 0;
        ioctl(fd, TIOCOUTQ, &queued);
        uint8_t reply[ReplySize];
        int received = 0;
        while (received < ReplySize) {
            ssize_t n = read(fd, reply + received, size_t(ReplySize - received));
            if (n > 0) {
                received += int(n);
                continue;
            }
            if (n == 0 || errno != EAGAIN) std::exit(3);
            pollfd entry{fd, POLLIN, 0};
            poll(&entry, 1, 1000);
        }
        ioctl(fd, FIONREAD, &queued);
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    close(fd);
    return rounds / seconds;
}

double PortLoop(const char* path, int rounds, bool serveEvents, int& wrongReplies)
{
    TMorvexComPort port;
    port.SetPort(path);
    port.OpenPort();
    port.ResetScramble();
    const uint8_t request = 0x52;
    uint8_t reply[ReplySize];
    const auto start = TClock::now();
    for (int round = 0; round < rounds; ++round) {
        port.TransactScrambled(&request, 1, ReplySize, reply);
        for (int i = 0; i < ReplySize; ++i) wrongReplies += reply[i] != uint8_t(i);
        // The programming run handles the application's events between
        // blocks, which also serves the event thread's hand-overs.
        if (serveEvents) QCoreApplication::processEvents();
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    port.ClosePort();
    return rounds / seconds;
}

struct TFigures {
    double Rate = 0;      // round trips per second (wall clock)
    double CpuMicros = 0; // CPU time of the whole process per round trip
    double Switches = 0;  // context switches of the whole process per round trip
};

double CpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename F>
TFigures WithPeer(int rounds, F loop)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
        std::perror("pty");
        std::exit(1);
    }
    termios line{};
    tcgetattr(master, &line);
    cfmakeraw(&line);
    tcsetattr(master, TCSANOW, &line);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::thread peer(Answer, master, rounds);
    TFigures figures;
    figures.Rate = loop(ptsname(master));
    peer.join();
    getrusage(RUSAGE_SELF, &after);
    close(master);
    figures.CpuMicros = (CpuSeconds(after) - CpuSeconds(before)) * 1e6 / rounds;
    figures.Switches = double(after.ru_nvcsw + after.ru_nivcsw - before.ru_nvcsw - before.ru_nivcsw) / rounds;
    return figures;
}

void Print(const char* name, const TFigures& figures, const TFigures& raw)
{
    std::printf("  %-32s %8.0f round trips/s (ratio %.2f)   %6.1f us CPU (ratio %.2f)   %4.1f switches\n", name,
                figures.Rate, raw.Rate / figures.Rate, figures.CpuMicros, figures.CpuMicros / raw.CpuMicros,
                figures.Switches);
}

TFigures Best(const TFigures& a, const TFigures& b)
{
    TFigures best;
    best.Rate = std::max(a.Rate, b.Rate);
    best.CpuMicros = a.CpuMicros == 0 ? b.CpuMicros : std::min(a.CpuMicros, b.CpuMicros);
    best.Switches = a.Switches == 0 ? b.Switches : std::min(a.Switches, b.Switches);
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
    TFigures raw, port, served;
    int wrong = 0;
    // Interleaved passes, best of three each, so that drift on a shared
    // machine hits all loops alike.
    for (int pass = 0; pass < 3; ++pass) {
        raw = Best(raw, WithPeer(rounds, [&](const char* path) { return RawLoop(path, rounds); }));
        port = Best(port, WithPeer(rounds, [&](const char* path) { return PortLoop(path, rounds, false, wrong); }));
        served = Best(served, WithPeer(rounds, [&](const char* path) { return PortLoop(path, rounds, true, wrong); }));
    }
    std::printf("read-back round trips (1-byte request, %d-byte reply), %d per pass, best of 3;\n", ReplySize, rounds);
    std::printf("CPU time and context switches are the whole process's (port or loop, peer, event thread)\n");
    Print("bare system-call loop", raw, raw);
    Print("TransactScrambled", port, raw);
    Print("TransactScrambled + event loop", served, raw);
    std::printf("  wrong reply bytes: %d\n", wrong);
    return wrong == 0 ? 0 : 1;
}
