// Linux line settings through termios2, so that any bit rate (14400, 56000,
// 128000, 256000 and custom rates) can be set with BOTHER and read back.
// This is the only file that may include the kernel's termios header.
#include "serial/lineconfig.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>

int Ioctl(int fd, unsigned long request, void* argument)
{
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

namespace {

bool Unsupported(int error) { return error == ENOTTY || error == EINVAL || error == ENOSYS; }

// Rates the classic speed codes name exactly; everything else goes through BOTHER.
speed_t SpeedCode(int32_t rate)
{
    struct Entry {
        int32_t Rate;
        speed_t Code;
    };
    static const Entry table[] = {{50, B50},           {75, B75},          {110, B110},         {134, B134},
                                  {150, B150},         {200, B200},        {300, B300},         {600, B600},
                                  {1200, B1200},       {1800, B1800},      {2400, B2400},       {4800, B4800},
                                  {9600, B9600},       {19200, B19200},    {38400, B38400},     {57600, B57600},
                                  {115200, B115200},   {230400, B230400},  {460800, B460800},   {500000, B500000},
                                  {576000, B576000},   {921600, B921600},  {1000000, B1000000}, {1152000, B1152000},
                                  {1500000, B1500000}, {2000000, B2000000}};
    for (const Entry& entry : table)
        if (entry.Rate == rate) return entry.Code;
    return BOTHER;
}

// Raw, non-canonical: no translation, echo or signals; a read on the
// non-blocking descriptor returns what is queued, and a read of 0 bytes
// can only mean the line has hung up (VMIN 1).
void MakeRaw(termios2& line)
{
    line.c_iflag = IGNBRK;
    line.c_oflag = 0;
    line.c_lflag = 0;
    line.c_cflag = (line.c_cflag & (CBAUD | (CBAUD << IBSHIFT))) | CS8 | CREAD | CLOCAL | HUPCL;
    std::memset(line.c_cc, 0, sizeof line.c_cc);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
}

tcflag_t CharSize(int32_t bits)
{
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t ParityFlags(TParityBits parity)
{
    switch (parity) {
    case prOdd: return PARENB | PARODD;
    case prEven: return PARENB;
    case prMark: return PARENB | CMSPAR | PARODD;
    case prSpace: return PARENB | CMSPAR;
    default: return 0;
    }
}

} // namespace

int MakeLineRaw(int fd)
{
    termios2 line{};
    if (int error = Ioctl(fd, TCGETS2, &line)) return error;
    MakeRaw(line);
    return Ioctl(fd, TCSETS2, &line);
}

int ApplyLineConfig(int fd, const TLineSettings& config)
{
    // The UART sends 1.5 stop bits only with 5-bit characters, and cannot
    // send 2 with them; such a line would not be the one asked for.
    if (config.BitRate <= 0 || config.CharBits < 5 || config.CharBits > 8 ||
        (config.StopBits == sbOne5StopBits && config.CharBits != 5) ||
        (config.StopBits == sbTwoStopBits && config.CharBits == 5))
        return EINVAL;

    termios2 line{};
    if (int error = Ioctl(fd, TCGETS2, &line)) return error;
    MakeRaw(line);
    const speed_t code = SpeedCode(config.BitRate);
    line.c_cflag &= ~(CSIZE | CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= CharSize(config.CharBits) | ParityFlags(config.Parity) | code;
    if (config.StopBits != sbOneStopBit) line.c_cflag |= CSTOPB;
    if (config.RtsCtsFlow) line.c_cflag |= CRTSCTS;
    if (config.CheckParity) line.c_iflag |= INPCK;
    if (config.XonXoffOut) line.c_iflag |= IXON;
    if (config.XonXoffIn) line.c_iflag |= IXOFF;
    line.c_cc[VSTART] = static_cast<cc_t>(config.XonChar);
    line.c_cc[VSTOP] = static_cast<cc_t>(config.XoffChar);
    line.c_ispeed = line.c_ospeed = static_cast<speed_t>(config.BitRate);
    if (int error = Ioctl(fd, TCSETS2, &line)) return error;

    // A driver that cannot produce the rate sets the nearest one it can;
    // beyond what a UART tolerates the line would carry garbage.
    int32_t actual = 0;
    if (int error = ReadLineBitRate(fd, actual)) return error;
    if (std::llabs(int64_t(actual) - config.BitRate) * 100 > int64_t(config.BitRate) * 3) return EINVAL;
    return 0;
}

int ReadLineBitRate(int fd, int32_t& rate)
{
    termios2 line{};
    if (int error = Ioctl(fd, TCGETS2, &line)) return error;
    rate = static_cast<int32_t>(line.c_ospeed);
    return 0;
}

int ReadLineCounters(int fd, TLineCounters& counters, TProbe& supported)
{
    serial_icounter_struct icount{};
    int error = Ioctl(fd, TIOCGICOUNT, &icount);
    if (Unsupported(error)) {
        supported = TProbe::Unsupported;
        return 0;
    }
    if (error) return error;
    supported = TProbe::Yes;
    counters.Frame = icount.frame;
    counters.Parity = icount.parity;
    counters.Overrun = icount.overrun;
    counters.Break = icount.brk;
    counters.BufferOverrun = icount.buf_overrun;
    return 0;
}

int ReadLowLatency(int fd, TProbe& on)
{
    serial_struct info{};
    int error = Ioctl(fd, TIOCGSERIAL, &info);
    if (Unsupported(error)) {
        on = TProbe::Unsupported;
        return 0;
    }
    if (error) return error;
    on = (info.flags & ASYNC_LOW_LATENCY) ? TProbe::Yes : TProbe::No;
    return 0;
}

int WriteLowLatency(int fd, bool on)
{
    serial_struct info{};
    if (int error = Ioctl(fd, TIOCGSERIAL, &info)) return error;
    if (on)
        info.flags |= ASYNC_LOW_LATENCY;
    else
        info.flags &= ~ASYNC_LOW_LATENCY;
    return Ioctl(fd, TIOCSSERIAL, &info);
}

int ReadTransmitterEmpty(int fd, TProbe& state)
{
    unsigned int lsr = 0;
    int error = Ioctl(fd, TIOCSERGETLSR, &lsr);
    if (Unsupported(error)) {
        state = TProbe::Unsupported;
        return 0;
    }
    if (error) return error;
    state = (lsr & TIOCSER_TEMT) ? TProbe::Yes : TProbe::No;
    return 0;
}
