// termios2 lives here alone: its header clashes with <termios.h>.
#include "hostline.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

TBytes Field(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

TBytes Concat(std::initializer_list<TBytes> parts)
{
    TBytes all;
    for (const TBytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

uint8_t HostDivisor(uint8_t reply, uint32_t currentRate, uint32_t newRate)
{
    const long double quotient = static_cast<long double>(currentRate) / newRate;
    const float product = static_cast<float>(quotient * reply);
    return static_cast<uint8_t>(static_cast<uint32_t>(std::trunc(product)));
}

THostLine::THostLine(std::string path, uint32_t bitRate) : FPath(std::move(path)) { Open(bitRate); }

THostLine::~THostLine() { Close(); }

void THostLine::Open(uint32_t bitRate)
{
    Close();
    FFd = ::open(FPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0) throw SystemError("open " + FPath);
    SetRate(bitRate);
}

void THostLine::Close()
{
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
}

void THostLine::SetRate(uint32_t bitRate)
{
    struct termios2 tio {};
    if (::ioctl(FFd, TCGETS2, &tio) != 0) throw SystemError("TCGETS2");
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = (tio.c_cflag & CSTOPB) | CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = tio.c_ospeed = bitRate;
    if (::ioctl(FFd, TCSETS2, &tio) != 0) throw SystemError("TCSETS2");
    FRate = bitRate;
}

void THostLine::SetTwoStopBits(bool two)
{
    struct termios2 tio {};
    if (::ioctl(FFd, TCGETS2, &tio) != 0) throw SystemError("TCGETS2");
    tio.c_cflag = two ? tio.c_cflag | CSTOPB : tio.c_cflag & ~CSTOPB;
    if (::ioctl(FFd, TCSETS2, &tio) != 0) throw SystemError("TCSETS2");
}

void THostLine::Purge()
{
    if (::ioctl(FFd, TCFLSH, TCIFLUSH) != 0) throw SystemError("TCFLSH");
}

void THostLine::Write(const TBytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FFd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd fd{FFd, POLLOUT, 0};
            ::poll(&fd, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            throw SystemError("write");
        }
    }
}

TBytes THostLine::Read(size_t count, int timeoutMs)
{
    TBytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) break;
        pollfd fd{FFd, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
        if (fd.revents & (POLLHUP | POLLERR)) break;
        uint8_t buffer[256];
        const ssize_t n = ::read(FFd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    return bytes;
}

bool THostLine::WaitHangUp(int timeoutMs)
{
    pollfd fd{FFd, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) return false;
    if (fd.revents & (POLLHUP | POLLERR)) return true;
    uint8_t b;
    return ::read(FFd, &b, 1) < 0 && errno == EIO;
}

TBytes THostLine::Transact(const TBytes& request, size_t replyCount, int timeoutMs)
{
    Purge();
    Write(request);
    return Read(replyCount, timeoutMs);
}

TBytes THostLine::Scramble(const TBytes& bytes)
{
    TBytes out(bytes);
    for (uint8_t& b : out) b = static_cast<uint8_t>(b ^ FCounter++);
    return out;
}

void THostLine::SendScrambled(const TBytes& bytes)
{
    Purge();
    Write(Scramble(bytes));
}

TBytes THostLine::TransactScrambled(const TBytes& request, size_t replyCount, int timeoutMs)
{
    SendScrambled(request);
    TBytes reply = Read(replyCount, timeoutMs);
    if (reply.size() == replyCount) reply = Scramble(reply);
    return reply;
}

TBytes THostLine::ChangeSpeed(uint32_t newRate, uint32_t lineRate)
{
    ResetCounter();
    const TBytes r = TransactScrambled({0x44, 0x05}, 1);
    if (r.size() != 1) return {};
    SendScrambled({HostDivisor(r[0], FRate, newRate)});
    Open(lineRate != 0 ? lineRate : newRate);
    return TransactScrambled(Bytes("ABCDE"), 5);
}

bool THostLine::LinkUp(const TBytes& command, uint32_t programRate)
{
    if (Transact(command, 8) != Bytes("SwItChUp")) return false;
    return ChangeSpeed(programRate) == Bytes("ABCDE");
}
