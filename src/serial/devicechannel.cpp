#include "serial/devicechannel.h"

#include "core/application.h"
#include "core/memstream.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <thread>
#include <vector>

TMorvexComPort::TMorvexComPort(QObject* owner) : TComPort(owner)
{
    // A command-and-reply device: a read of n bytes ends when they have
    // all arrived or the reply time-out has passed since it began.
    Buffer().SetInputSize(4096);
    Timeouts().SetReadTotalConstant(1000);
    Timeouts().SetReadTotalMultiplier(0);
    Timeouts().SetReadInterval(0);
    // A reply may take seconds (an erase status up to five): meanwhile the
    // application handles its events, so its windows keep painting and an
    // operator's Cancel or Ctrl-C is seen. No second exchange can start in
    // between: the protocol's keep-alive waits while an operation is under
    // way, and every exchange is one.
    SetWaitHook([] { ProcessMessages(); });
}

void TMorvexComPort::SetReplyTimeout(int32_t ms) { Timeouts().SetReadTotalConstant(ms); }

void TMorvexComPort::SendPlain(const uint8_t* bytes, int32_t count)
{
    DiscardBuffers(true, false);
    while (count > 0) {
        int32_t written = WriteBytes(bytes, count);
        // A pass that moves nothing ran into its write time-out with the
        // line held: repeating it would hang, so report the write as failed.
        if (written <= 0) throw EComPort(CError_WriteFailed, ETIMEDOUT);
        bytes += written;
        count -= written;
    }
}

void TMorvexComPort::TransactPlain(const uint8_t* request, int32_t count, int32_t replyCount, uint8_t* reply)
{
    // The reply may arrive while the request is still being sent.
    TReadScope reading(*this);
    SendPlain(request, count);
    if (ReadBytes(reply, replyCount) != replyCount) throw EMorvexComTimeout();
}

void TMorvexComPort::ScrambleBytes(uint8_t* buffer, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) buffer[i] ^= FScrambleCounter++;
}

namespace {
// The scrambled copy of a request. Program blocks are image bytes and the
// counter is no secret, so the copy is wiped before its memory is released,
// on every path.
class TScrambledCopy {
public:
    TScrambledCopy(const uint8_t* bytes, int32_t count) : FBytes(bytes, bytes + (count > 0 ? count : 0)) {}
    ~TScrambledCopy() { SecureZero(FBytes.data(), FBytes.size()); }
    TScrambledCopy(const TScrambledCopy&) = delete;
    TScrambledCopy& operator=(const TScrambledCopy&) = delete;
    uint8_t* Data() { return FBytes.data(); }

private:
    std::vector<uint8_t> FBytes;
};
}

void TMorvexComPort::SendScrambled(const uint8_t* bytes, int32_t count)
{
    TScrambledCopy copy(bytes, count);
    ScrambleBytes(copy.Data(), count);
    SendPlain(copy.Data(), count);
}

void TMorvexComPort::TransactScrambled(const uint8_t* request, int32_t count, int32_t replyCount, uint8_t* reply)
{
    TScrambledCopy copy(request, count);
    ScrambleBytes(copy.Data(), count);
    TransactPlain(copy.Data(), count, replyCount, reply);
    ScrambleBytes(reply, replyCount);
}

void TMorvexComPort::WaitMs(int32_t ms)
{
    using TClock = std::chrono::steady_clock;
    const TClock::time_point until = TClock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
    // A thread without an event loop has nothing to keep alive meanwhile.
    if (!QAbstractEventDispatcher::instance()) {
        std::this_thread::sleep_until(until);
        return;
    }
    // A coarse timer: a precise one, under Wine, did not wake the wait for
    // more events, and each pause lasted until some other event came (the
    // keep-alive's, a second later). A coarse timer may fire a little late,
    // which a pause allows, or early, which the loop below makes up for.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::CoarseTimer);
    bool expired = false;
    QObject::connect(&timer, &QTimer::timeout, [&expired] { expired = true; });
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - TClock::now()).count();
        if (left <= 0 && expired) break;
        // The timer may fire a little before the clock says the time is up:
        // wait again for what is left, so the wait never ends early.
        expired = false;
        timer.start(int(left > 0 ? left : 0));
        while (!expired) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TMorvexComPort::CopySettingsFrom(const TComPort& source)
{
    const bool wasOpen = Connected();
    if (wasOpen) ClosePort();
    SetBaudRate(source.BaudRate());
    SetCustomBaudRate(source.CustomBaudRate());
    SetDataBits(source.DataBits());
    SetParity(source.Parity());
    SetPort(source.Port());
    SetStopBits(source.StopBits());
    SetFlowControl(source.FlowControl());
    if (wasOpen) OpenPort();
}

int32_t TMorvexComPort::ActualBaudRate() const
{
    return BaudRate() == brCustom ? CustomBaudRate() : BaudRateBits(BaudRate());
}
