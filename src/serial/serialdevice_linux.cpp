// The POSIX serial backend: a tty opened exclusively and non-blocking,
// transfers built from poll() against one monotonic deadline, and the
// event watch built on epoll with an eventfd as the stop signal.
#include "serial/serialdevice_linux.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace {

constexpr uint32_t AllBits = 0xFFFFFFFFu; // ReadInterval -1 as the driver sees it

int Flush(int fd, int queue)
{
    int result;
    do {
        result = tcflush(fd, queue);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

// Errors that mean the device itself has gone (unplugged, hung up).
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }
// Errors of a driver that simply does not offer the request.
bool NotOffered(int error) { return error == ENOTTY || error == EINVAL; }

// Waits for `events` on the device until the deadline. Returns the revents
// (0 on time-out) or throws `code` when poll fails. A device that has gone
// away shows as POLLHUP/POLLERR/POLLNVAL, even with events 0. A signal
// that interrupts the wait neither ends nor lengthens it: the wait goes on
// for what is left of the same deadline, so that signals arriving more
// often than the time-out cannot keep a transfer waiting.
short PollDevice(int fd, short events, const TDeadline& deadline, int32_t code)
{
    pollfd entry{fd, events, 0};
    for (;;) {
        int result = poll(&entry, 1, deadline.PollTimeout());
        if (result >= 0) return result == 0 ? 0 : entry.revents;
        if (errno != EINTR) throw EComPort(code, errno);
    }
}

bool HungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

void Interrupt(int) {}

} // namespace

int CallUntil(const TDeadline& deadline, const std::function<int()>& call)
{
    int result;
    if (deadline.Infinite()) {
        do {
            result = call();
        } while (result == EINTR);
        return result;
    }
    if (deadline.Passed()) return ETIMEDOUT;
    const int signal = SIGRTMIN + 4;
    static std::once_flag installed;
    std::call_once(installed, [signal] {
        struct sigaction action {};
        action.sa_handler = Interrupt; // without SA_RESTART: the call fails with EINTR
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    });
    sigevent target{};
    target.sigev_notify = SIGEV_THREAD_ID;
    target.sigev_signo = signal;
    target.sigev_notify_thread_id = gettid();
    // Without a timer the call could not be bounded: it is not made.
    timer_t timer;
    if (timer_create(CLOCK_MONOTONIC, &target, &timer) != 0) return ETIMEDOUT;
    // The first signal at the deadline; the repeats for a signal that came
    // just before the call began to wait and so interrupted nothing.
    const int ms = std::max(deadline.PollTimeout(), 1);
    itimerspec when{};
    when.it_value = {ms / 1000, (ms % 1000) * 1000000L};
    when.it_interval = {0, 10 * 1000000L};
    sigset_t only, saved;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, &saved);
    timer_settime(timer, 0, &when, nullptr);
    for (;;) {
        result = call();
        if (result != EINTR) break;
        if (deadline.Passed()) {
            result = ETIMEDOUT;
            break;
        }
    }
    timer_delete(timer);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return result;
}

TDriverCalls TDriverCalls::System()
{
    TDriverCalls calls;
    calls.OutputQueued = [](int fd, int& queued) { return Ioctl(fd, TIOCOUTQ, &queued); };
    calls.DrainTransmitter = [](int fd, const TDeadline& deadline) {
        return CallUntil(deadline, [fd] { return tcdrain(fd) == 0 ? 0 : errno; });
    };
    calls.ReadLowLatency = ::ReadLowLatency;
    calls.WriteLowLatency = ::WriteLowLatency;
    return calls;
}

// Serial devices belong to the dialout group on Debian and its kin. A port
// another program holds shows as EBUSY, whether our lock or the tty's
// exclusive mode refused it.
std::string OpenFailureAdvice(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return "Permission denied: add your user to the 'dialout' group and log in again.";
    case EBUSY:
        return "The port is in use by another program: close it (a terminal program, ModemManager or brltty may hold "
               "it) and try again.";
    case ENOENT:
    case ENODEV:
    case ENXIO: return "No such device: check the cable or adapter and the port name.";
    default: return "";
    }
}

std::atomic<uint64_t> TSerialDevice::FAllQueueWaits{0};

TSerialDevice::TSerialDevice() : F(std::make_unique<TPlatform>()) {}

TSerialDevice::~TSerialDevice() { Close(); }

bool TSerialDevice::IsOpen() const { return F->Handle >= 0; }

intptr_t TSerialDevice::Handle() const { return F->Handle; }

void TSerialDevice::Open(const std::string& path)
{
    if (IsOpen()) return;
    if (path.empty()) throw EComPort(CError_OpenFailed, ENOENT);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw EComPort(CError_OpenFailed, errno);
    int error = 0;
    // The lock keeps out every other opener, root included; TIOCEXCL keeps
    // out programs that do not lock, and fails on anything that is not a tty.
    if (flock(fd, LOCK_EX | LOCK_NB) < 0)
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    else if (ioctl(fd, TIOCEXCL) < 0)
        error = errno;
    else
        error = MakeLineRaw(fd);
    if (error) {
        close(fd);
        throw EComPort(CError_OpenFailed, error);
    }
    // Low latency for USB adapters, which otherwise hold received bytes for
    // their latency timer. Only a mode this open switched on is undone.
    TProbe lowLatency = TProbe::Unsupported;
    F->LowLatencyOurs = F->Driver.ReadLowLatency(fd, lowLatency) == 0 && lowLatency == TProbe::No &&
                        F->Driver.WriteLowLatency(fd, true) == 0;
    TProbe counted;
    F->Counters = TLineCounters();
    ReadLineCounters(fd, F->Counters, counted); // the baseline for LineErrors
    F->TransmitterKnown = true;
    F->OutputFlow = false; // the raw line has no flow control
    F->Handle = fd;
}

void TSerialDevice::Close()
{
    if (!IsOpen()) return;
    // The serial settings outlive the descriptor: leave the device as it
    // was found. A device that has gone away fails this harmlessly.
    if (F->LowLatencyOurs) F->Driver.WriteLowLatency(F->Handle, false);
    F->LowLatencyOurs = false;
    // Exclusive mode stays with the tty, not the descriptor: clear it so the
    // next opener is not refused.
    ioctl(F->Handle, TIOCNXCL);
    close(F->Handle);
    F->Handle = -1;
}

void TSerialDevice::ApplyQueueSizes(int32_t inputSize, int32_t outputSize)
{
    // The tty layer sizes its queues itself; what can be checked is that
    // the sizes make sense. The input size also sets the 80 % mark.
    if (!IsOpen()) throw EComPort(CError_SetupComFailed, EBADF);
    if (inputSize < 0 || outputSize < 0) throw EComPort(CError_SetupComFailed, EINVAL);
    FInputSize = inputSize;
}

void TSerialDevice::ApplyLine(const TLineSettings& config, TDTRFlowControl dtr, TRTSFlowControl rts)
{
    if (!IsOpen()) throw EComPort(CError_SetStateFailed, EBADF);
    if (int error = ApplyLineConfig(F->Handle, config)) throw EComPort(CError_SetStateFailed, error);
    F->BitRate = config.BitRate;
    F->OutputFlow = config.RtsCtsFlow || config.XonXoffOut;
    F->CharBits = 1 + config.CharBits + (config.Parity != prNone ? 1 : 0) + (config.StopBits == sbOneStopBit ? 1 : 2);

    // Output lines the driver does not drive itself. Linux has no DTR
    // handshake (DTR is held active instead) and no RTS toggling (RTS is
    // held inactive); a device without modem lines takes no part.
    int raise = 0, lower = 0;
    (dtr == dtrDisable ? lower : raise) |= TIOCM_DTR;
    (rts == rtsEnable || rts == rtsHandshake ? raise : lower) |= TIOCM_RTS;
    for (auto [request, lines] : {std::pair{TIOCMBIS, raise}, std::pair{TIOCMBIC, lower}}) {
        int error = Ioctl(F->Handle, request, &lines);
        if (error && !NotOffered(error)) throw EComPort(CError_SetStateFailed, error);
    }
}

int32_t TSerialDevice::BitRate() const
{
    int32_t rate = 0;
    if (!IsOpen() || ReadLineBitRate(F->Handle, rate) != 0) return 0;
    return rate;
}

int32_t TSerialDevice::Write(const void* buffer, int32_t count)
{
    if (!IsOpen()) throw EComPort(CError_WriteFailed, EBADF);
    if (count <= 0) return 0;
    const TDeadline deadline = TDeadline::Total(FTimeouts.WriteTotalMultiplier, FTimeouts.WriteTotalConstant, count);
    const char* bytes = static_cast<const char*>(buffer);
    int32_t sent = 0;
    while (sent < count) {
        ssize_t done = write(F->Handle, bytes + sent, size_t(count - sent));
        if (done > 0) {
            sent += int32_t(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && errno != EAGAIN) throw EComPort(CError_WriteFailed, errno);
        // The driver's queue is full: wait for room until the time-out.
        if (deadline.Passed()) break;
        short revents = PollDevice(F->Handle, POLLOUT, deadline, CError_WriteFailed);
        if (HungUp(revents)) throw EComPort(CError_WriteFailed, EIO);
    }
    CountQueueWaits(F->DrainOutput(sent, deadline));
    return sent;
}

// A write is complete when its bytes are on the wire: only then may the
// caller close the port or change the bit rate without losing them.
uint64_t TSerialDevice::TPlatform::DrainOutput(int32_t& sent, const TDeadline& deadline)
{
    uint64_t waits = 0;
    for (;;) {
        int queued = 0;
        if (int error = Driver.OutputQueued(Handle, queued)) throw EComPort(CError_WriteFailed, error);
        if (queued == 0) {
            if (TransmitterDone(deadline)) return waits;
        } else {
            ++waits;
        }
        if (deadline.Passed()) {
            // As with a timed-out write elsewhere: what did not go out is
            // dropped and not counted as written.
            sent = queued >= sent ? 0 : sent - queued;
            if (queued > 0 && Flush(Handle, TCOFLUSH) != 0) throw EComPort(CError_WriteFailed, errno);
            return waits;
        }
        // Sleep about as long as the queued characters take on the line,
        // waking early only if the device goes away.
        int64_t lineMs =
            (int64_t(queued > 0 ? queued : 1) * CharBits * 1000 + BitRate - 1) / (BitRate > 0 ? BitRate : 1);
        const TDeadline nap = TDeadline::Earlier(deadline, TDeadline::After(lineMs < 1    ? 1
                                                                            : lineMs > 50 ? 50
                                                                                          : lineMs));
        if (HungUp(PollDevice(Handle, 0, nap, CError_WriteFailed))) throw EComPort(CError_WriteFailed, EIO);
    }
}

// With the driver's queue empty: whether the transmitter has sent the
// rest. The driver is asked to wait for its transmitter itself, bounded by
// the deadline: a UART driver watches the same line status we could, and a
// USB adapter's driver asks the chip, where the line status it reports to
// us is only the chip's last report (an adapter that reports seldom would
// keep every write waiting to its time-out). While flow control may hold
// the output the peer could hold it past any time-out: then a UART's line
// status is polled until the deadline, and bytes an adapter still holds are
// the adapter's to send.
bool TSerialDevice::TPlatform::TransmitterDone(const TDeadline& deadline)
{
    if (OutputFlow) {
        if (!TransmitterKnown) return true;
        TProbe empty;
        if (int error = ReadTransmitterEmpty(Handle, empty)) throw EComPort(CError_WriteFailed, error);
        if (empty != TProbe::Unsupported) return empty == TProbe::Yes;
        TransmitterKnown = false;
        return true;
    }
    const int error = Driver.DrainTransmitter(Handle, deadline);
    // At the deadline the bytes still in the adapter are not taken back from
    // the count: nobody can tell how many there are, and they will go out.
    if (error == 0 || error == ETIMEDOUT || NotOffered(error)) return true;
    throw EComPort(CError_WriteFailed, error);
}

int32_t TSerialDevice::Read(void* buffer, int32_t count)
{
    if (!IsOpen()) throw EComPort(CError_ReadFailed, EBADF);
    if (count <= 0) return 0;
    const uint32_t interval = uint32_t(FTimeouts.ReadInterval);
    const uint32_t multiplier = uint32_t(FTimeouts.ReadTotalMultiplier);
    const uint32_t constant = uint32_t(FTimeouts.ReadTotalConstant);
    // Interval all bits set with both totals 0: return at once with what is
    // queued. With the multiplier all bits set too: wait up to the constant
    // for the first byte, then return at once.
    const bool atOnce = interval == AllBits && multiplier == 0 && constant == 0;
    const bool firstByte = interval == AllBits && multiplier == AllBits && constant != 0 && constant != AllBits;
    const TDeadline total = atOnce ? TDeadline::Now()
                            : firstByte
                                ? TDeadline::After(constant)
                                : TDeadline::Total(FTimeouts.ReadTotalMultiplier, FTimeouts.ReadTotalConstant, count);
    const bool intervalLimit = !atOnce && !firstByte && interval != 0 && interval != AllBits;
    TDeadline deadline = total;

    char* bytes = static_cast<char*>(buffer);
    int32_t received = 0;
    while (received < count) {
        // Never more than asked: bytes beyond count stay with the driver.
        ssize_t done = read(F->Handle, bytes + received, size_t(count - received));
        if (done > 0) {
            received += int32_t(done);
            if (firstByte) break;
            if (intervalLimit) deadline = TDeadline::Earlier(total, TDeadline::After(interval));
            continue;
        }
        if (done == 0) // a raw tty reads 0 bytes only once it has hung up
            throw EComPort(CError_ReadFailed, EIO);
        if (errno == EINTR) continue;
        if (errno != EAGAIN) throw EComPort(CError_ReadFailed, errno);
        if (deadline.Passed()) break;
        // With a wait hook the wait goes in slices, the hook between them;
        // bytes that arrive end a slice at once, so replies are not delayed.
        const TDeadline slice = FWaitHook ? TDeadline::Earlier(deadline, TDeadline::After(WaitSliceMs)) : deadline;
        short revents = PollDevice(F->Handle, POLLIN, slice, CError_ReadFailed);
        if (HungUp(revents) && !(revents & POLLIN)) throw EComPort(CError_ReadFailed, EIO);
        if (revents == 0 && FWaitHook && !deadline.Passed()) FWaitHook();
    }
    return received;
}

bool TSerialDevice::TPlatform::DropUnsentOutput()
{
    // Only what the driver really still holds. On a pseudo-terminal the
    // output purge would reach into the other side's unread input and take
    // a byte that had already left, so it must not run when nothing is queued.
    int queued = 0;
    if (int error = Ioctl(Handle, TIOCOUTQ, &queued)) {
        errno = error;
        return false;
    }
    if (queued > 0 && Flush(Handle, TCOFLUSH) != 0) return false;
    return true;
}

void TSerialDevice::Purge(bool input, bool output)
{
    if (!IsOpen()) throw EComPort(CError_PurgeFailed, EBADF);
    if (input) {
        if (int error = Flush(F->Handle, TCIFLUSH)) throw EComPort(CError_PurgeFailed, error);
    }
    if (output && !F->DropUnsentOutput()) throw EComPort(CError_PurgeFailed, errno);
}

void TSerialDevice::AbortTransfers()
{
    if (!IsOpen()) throw EComPort(CError_PurgeFailed, EBADF);
    // Every transfer has finished before its call returned, so there is
    // nothing in flight but bytes a timed-out write may have left queued.
    if (!F->DropUnsentOutput() && !DeviceGone(errno)) throw EComPort(CError_PurgeFailed, errno);
}

void TSerialDevice::PurgeQuietly()
{
    if (!IsOpen()) return;
    Flush(F->Handle, TCIFLUSH);
    F->DropUnsentOutput();
}

int32_t TSerialDevice::QueuedInput()
{
    int queued = 0;
    if (!IsOpen()) throw EComPort(CError_ClearComFailed, EBADF);
    if (int error = Ioctl(F->Handle, FIONREAD, &queued)) throw EComPort(CError_ClearComFailed, error);
    return queued;
}

TComErrors TSerialDevice::LineErrors()
{
    if (!IsOpen()) throw EComPort(CError_ClearComFailed, EBADF);
    // Pending-input query first: it fails on a device that has gone away
    // even where the driver keeps no error counters.
    QueuedInput();
    TLineCounters now;
    TProbe counted;
    if (int error = ReadLineCounters(F->Handle, now, counted)) throw EComPort(CError_ClearComFailed, error);
    if (counted != TProbe::Yes) return 0;
    TComErrors errors = 0;
    if (now.Frame != F->Counters.Frame) errors |= ComErrorBit(ceFrame);
    if (now.Parity != F->Counters.Parity) errors |= ComErrorBit(ceRxParity);
    if (now.Overrun != F->Counters.Overrun) errors |= ComErrorBit(ceOverrun);
    if (now.Break != F->Counters.Break) errors |= ComErrorBit(ceBreak);
    if (now.BufferOverrun != F->Counters.BufferOverrun) errors |= ComErrorBit(ceRxOver);
    F->Counters = now;
    return errors;
}

TComSignals TSerialDevice::ModemSignals()
{
    if (!IsOpen()) throw EComPort(CError_ModemStatFailed, EBADF);
    int lines = 0;
    int error = Ioctl(F->Handle, TIOCMGET, &lines);
    if (NotOffered(error)) return 0; // no modem lines (a pseudo-terminal): none is active
    if (error) throw EComPort(CError_ModemStatFailed, error);
    TComSignals active = 0;
    if (lines & TIOCM_CTS) active |= ComSignalBit(csCTS);
    if (lines & TIOCM_DSR) active |= ComSignalBit(csDSR);
    if (lines & TIOCM_RI) active |= ComSignalBit(csRing);
    if (lines & TIOCM_CD) active |= ComSignalBit(csRLSD);
    return active;
}

TDeviceWatch::TDeviceWatch(TSerialDevice& port, bool received) : F(std::make_unique<TPlatform>())
{
    F->Device = port.Platform().Handle;
    F->Received = received;
    F->Poll = epoll_create1(EPOLL_CLOEXEC);
    F->StopSignal = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Edge-triggered on the device: one report per arrival of bytes, none
    // for as long as they merely stay queued.
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = F->StopSignal;
    epoll_event device{};
    device.events = received ? EPOLLIN | EPOLLET : EPOLLET;
    device.data.fd = F->Device;
    if (F->Poll < 0 || F->StopSignal < 0 || epoll_ctl(F->Poll, EPOLL_CTL_ADD, F->StopSignal, &stop) < 0 ||
        epoll_ctl(F->Poll, EPOLL_CTL_ADD, F->Device, &device) < 0) {
        int error = errno;
        if (F->Poll >= 0) close(F->Poll);
        if (F->StopSignal >= 0) close(F->StopSignal);
        throw EComPort(CError_WaitFailed, error);
    }
}

TDeviceWatch::~TDeviceWatch()
{
    close(F->Poll);
    close(F->StopSignal);
}

TDeviceWatch::TResult TDeviceWatch::Wait(TEvents& events)
{
    events = TEvents();
    for (;;) {
        epoll_event ready[2];
        int count = epoll_wait(F->Poll, ready, 2, -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            return wrStopped; // the wait itself is broken: nothing more can be watched
        }
        for (int i = 0; i < count; ++i)
            if (ready[i].data.fd == F->StopSignal) return wrStopped;
        for (int i = 0; i < count; ++i) {
            if (ready[i].events & (EPOLLHUP | EPOLLERR)) {
                events.Gone = true;
                // A hung-up tty stays "ready" forever: stop watching it.
                if (F->Watching) epoll_ctl(F->Poll, EPOLL_CTL_DEL, F->Device, nullptr);
                F->Watching = false;
            } else if (ready[i].events & EPOLLIN) {
                events.Received = true;
            }
        }
        if (events.Received || events.Gone) return wrEvents;
    }
}

void TDeviceWatch::HoldReceived(bool hold)
{
    if (!F->Received) return;
    // Hang-ups and errors are reported whatever the mask says. Re-arming
    // re-checks readiness, so bytes left over are not missed. After a
    // hang-up the device is no longer in the set and this fails harmlessly.
    epoll_event device{};
    device.events = hold ? EPOLLET : EPOLLIN | EPOLLET;
    device.data.fd = F->Device;
    epoll_ctl(F->Poll, EPOLL_CTL_MOD, F->Device, &device);
}

void TDeviceWatch::Stop()
{
    uint64_t one = 1;
    ssize_t written;
    do {
        written = write(F->StopSignal, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
}
