#include "ptypair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

TPtyPair::TPtyPair()
{
    FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || grantpt(FMaster) < 0 || unlockpt(FMaster) < 0) throw std::runtime_error("no pseudo-terminal");
    FSlavePath = ptsname(FMaster);
}

TPtyPair::~TPtyPair() { Hangup(); }

void TPtyPair::Send(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR) throw std::runtime_error("pty write failed");
        if (n > 0) done += size_t(n);
    }
}

std::vector<uint8_t> TPtyPair::Receive(size_t count, int timeoutMs)
{
    std::vector<uint8_t> bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < count) {
        int left = timeoutMs - int(clock.elapsed());
        pollfd entry{FMaster, POLLIN, 0};
        if (left <= 0 || poll(&entry, 1, left) <= 0 || !(entry.revents & POLLIN)) break;
        uint8_t buffer[4096];
        ssize_t n = read(FMaster, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void TPtyPair::Hangup()
{
    if (FMaster >= 0) close(FMaster);
    FMaster = -1;
}

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "serial_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

void ServeEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
