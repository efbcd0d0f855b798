// Linux pseudo-terminal access. This file alone uses the kernel's termios2
// (for arbitrary bit rates), whose header clashes with <termios.h>.
#include "tools/unitsim/ptyline.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void CloseFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

uint32_t DataBits(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

} // namespace

TPtyLine::TPtyLine()
{
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0) throw SystemError("posix_openpt");
    try {
        if (::grantpt(FMaster) != 0) throw SystemError("grantpt");
        if (::unlockpt(FMaster) != 0) throw SystemError("unlockpt");
        char name[128];
        if (::ptsname_r(FMaster, name, sizeof name) != 0) throw SystemError("ptsname");
        FSlavePath = name;
        const int on = 1;
        if (::ioctl(FMaster, TIOCPKT, &on) != 0) throw SystemError("TIOCPKT");
        const int flags = ::fcntl(FMaster, F_GETFL);
        if (flags < 0 || ::fcntl(FMaster, F_SETFL, flags | O_NONBLOCK) != 0) throw SystemError("O_NONBLOCK");

        FSlave = ::open(FSlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (FSlave < 0) throw SystemError("open " + FSlavePath);
        // A new terminal echoes and edits lines; a serial line does neither.
        // Start raw at 9600 8N1, as a port that nobody has configured yet.
        struct termios2 tio {};
        if (::ioctl(FSlave, TCGETS2, &tio) != 0) throw SystemError("TCGETS2");
        tio.c_iflag = 0;
        tio.c_oflag = 0;
        tio.c_lflag = 0;
        tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
        tio.c_ispeed = tio.c_ospeed = 9600;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        if (::ioctl(FSlave, TCSETS2, &tio) != 0) throw SystemError("TCSETS2");

        // Our own descriptor is open before the watch starts, so the watch
        // counts the host's opens and closes only.
        FWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FWatch < 0) throw SystemError("inotify_init1");
        if (::inotify_add_watch(FWatch, FSlavePath.c_str(), IN_OPEN | IN_CLOSE) < 0)
            throw SystemError("inotify_add_watch " + FSlavePath);
    } catch (...) {
        CloseFd(FWatch);
        CloseFd(FSlave);
        CloseFd(FMaster);
        throw;
    }
}

TPtyLine::~TPtyLine() { Close(); }

TLineState TPtyLine::Line() const
{
    TLineState line;
    struct termios2 tio {};
    // On a master, TCGETS2 reports the slave's settings: the host's.
    if (FMaster < 0 || ::ioctl(FMaster, TCGETS2, &tio) != 0) return line;
    line.BitRate = tio.c_ospeed;
    // A pseudo-terminal forces eight data bits and no parity whatever the
    // host asks for; the stop bits are kept.
    line.BitsPerByte = 1 + DataBits(tio.c_cflag) + ((tio.c_cflag & PARENB) ? 1 : 0) + ((tio.c_cflag & CSTOPB) ? 2 : 1);
    return line;
}

TPtyLine::TReadResult TPtyLine::Read(std::vector<uint8_t>& data)
{
    data.clear();
    if (FMaster < 0) return rrGone;
    uint8_t buffer[4097];
    ssize_t n;
    do {
        n = ::read(FMaster, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? rrEmpty : rrGone;
    if (n == 0) return rrEmpty;
    // Packet mode: the first byte says whether data or a status change follows.
    if (buffer[0] != TIOCPKT_DATA) return (buffer[0] & TIOCPKT_FLUSHREAD) ? rrPurged : rrStatus;
    data.assign(buffer + 1, buffer + n);
    return data.empty() ? rrEmpty : rrData;
}

bool TPtyLine::Write(const std::vector<uint8_t>& bytes, int wakeFd, const std::function<bool()>& shouldAbort)
{
    size_t done = 0;
    while (done < bytes.size()) {
        if (FMaster < 0) return false;
        const ssize_t n = ::write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        // The host's input queue is full: wait for room, or for a reason to stop.
        pollfd fds[2] = {{FMaster, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if ((fds[1].revents & POLLIN) && shouldAbort()) return false;
    }
    return true;
}

std::vector<int> TPtyLine::ReadWatch()
{
    std::vector<int> changes;
    if (FWatch < 0) return changes;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(FWatch, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if (event->mask & IN_OPEN) changes.push_back(+1);
            if (event->mask & IN_CLOSE) changes.push_back(-1);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return changes;
}

void TPtyLine::Close()
{
    CloseFd(FWatch);
    CloseFd(FMaster);
    CloseFd(FSlave);
}
