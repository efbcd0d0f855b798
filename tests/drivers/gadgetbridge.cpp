// gadgetbridge: puts a simulated unit (unitsim, on a pseudo-terminal) behind
// the gadget side of a USB CDC-ACM link inside the virtual machine of
// scripts/driver-tests.sh, so that the programmer opening the host side
// (ttyACM0, the cdc_acm driver) talks to the unit through the real USB
// serial stack (dummy_hcd, g_serial).
//
//   gadgetbridge GADGET_TTY HOST_TTY UNIT_PTY
//
// Bytes go both ways between GADGET_TTY (ttyGS0) and UNIT_PTY. The unit
// judges every byte by the bit rate the host set, but the gadget side never
// hears the line coding the host sends; so the bridge holds HOST_TTY open
// (it never reads it) and, before it passes bytes on to the unit, gives the
// unit's line the rate and framing the host's terminal has at that moment.
// The host sets its rate before it writes, so the bytes pass at their rate.
// The bridge ends when the gadget side hangs up (the link is unplugged).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int OpenRaw(const char* path, int flags)
{
    const int fd = open(path, flags | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "gadgetbridge: %s: %s\n", path, std::strerror(errno));
        return -1;
    }
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}

bool WriteAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// The host's rate and framing onto the unit's line, when they changed.
void FollowHostLine(int hostFd, int unitFd)
{
    termios host{};
    termios unit{};
    if (tcgetattr(hostFd, &host) != 0 || tcgetattr(unitFd, &unit) != 0) return; // the host side is gone
    const tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB;
    if (cfgetospeed(&host) == cfgetospeed(&unit) && (host.c_cflag & framing) == (unit.c_cflag & framing)) return;
    cfsetspeed(&unit, cfgetospeed(&host));
    unit.c_cflag = (unit.c_cflag & ~framing) | (host.c_cflag & framing);
    tcsetattr(unitFd, TCSANOW, &unit);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: gadgetbridge GADGET_TTY HOST_TTY UNIT_PTY\n");
        return 2;
    }
    const int gadget = OpenRaw(argv[1], O_RDWR);
    const int host = OpenRaw(argv[2], O_RDONLY | O_NONBLOCK);
    const int unit = OpenRaw(argv[3], O_RDWR);
    if (gadget < 0 || host < 0 || unit < 0) return 1;
    std::printf("gadgetbridge: %s <-> %s, at the rate of %s\n", argv[1], argv[3], argv[2]);
    std::fflush(stdout);
    pollfd fds[2] = {{gadget, POLLIN, 0}, {unit, POLLIN, 0}};
    char buffer[4096];
    for (;;) {
        errno = 0;
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) {
            const ssize_t got = read(gadget, buffer, sizeof buffer);
            if (got <= 0) break; // hung up: the link was unplugged
            FollowHostLine(host, unit);
            if (!WriteAll(unit, buffer, got)) break;
        }
        if (fds[1].revents != 0) {
            const ssize_t got = read(unit, buffer, sizeof buffer);
            if (got <= 0) break;
            if (!WriteAll(gadget, buffer, got)) break;
        }
    }
    std::printf("gadgetbridge: ended (%s)\n", errno != 0 ? std::strerror(errno) : "end of file");
    return 0;
}
