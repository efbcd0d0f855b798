// Blocking transfers through a pseudo-terminal: the read time-out rule,
// writes that have left the driver, purges, and a device that goes away.
#include "ptypair.h"
#include "serial/comport.h"

#include <QElapsedTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>

#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace {

using namespace std::chrono_literals;

std::atomic<int> FSignalsTaken{0};
void TakeSignal(int) { ++FSignalsTaken; }

// SIGALRM every `periodMs` at the thread that creates the storm, with a
// handler that does nothing and is installed without SA_RESTART, so that
// every blocking call of that thread fails with EINTR. The storm ends when
// it is destroyed, or after `limitMs` so that a wait that never ends under
// it still ends.
class TSignalStorm {
public:
    TSignalStorm(int periodMs, int limitMs)
    {
        struct sigaction action {};
        action.sa_handler = TakeSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &FSaved);
        sigevent target{};
        target.sigev_notify = SIGEV_THREAD_ID;
        target.sigev_signo = SIGALRM;
        target.sigev_notify_thread_id = gettid();
        if (timer_create(CLOCK_MONOTONIC, &target, &FTimer) != 0) throw std::runtime_error("no timer");
        const timespec period{periodMs / 1000, (periodMs % 1000) * 1000000L};
        const itimerspec every{period, period};
        timer_settime(FTimer, 0, &every, nullptr);
        FSignalsTaken = 0;
        FLimit = std::thread([this, limitMs] {
            std::unique_lock<std::mutex> lock(FMutex);
            FWake.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return FEnded; });
            const itimerspec off{};
            timer_settime(FTimer, 0, &off, nullptr);
        });
    }
    ~TSignalStorm()
    {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FEnded = true;
        }
        FWake.notify_all();
        FLimit.join();
        timer_delete(FTimer);
        sigaction(SIGALRM, &FSaved, nullptr);
    }
    int Taken() const { return FSignalsTaken; }

private:
    struct sigaction FSaved {};
    timer_t FTimer{};
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FEnded = false;
    std::thread FLimit;
};

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        Port.SetPort(Pty.SlavePath());
        Port.OpenPort();
    }
    void SetReadTimeouts(int32_t interval, int32_t multiplier, int32_t constant)
    {
        Port.SuspendApply();
        Port.Timeouts().SetReadInterval(interval);
        Port.Timeouts().SetReadTotalMultiplier(multiplier);
        Port.Timeouts().SetReadTotalConstant(constant);
        Port.ResumeApply();
    }
    // Waits until the driver has queued `count` received bytes.
    void AwaitQueued(int32_t count)
    {
        for (int i = 0; i < 200 && Port.QueuedInputCount() < count; ++i) std::this_thread::sleep_for(5ms);
        ASSERT_EQ(Port.QueuedInputCount(), count);
    }
    TPtyPair Pty;
    TComPort Port;
};

TEST_F(TransferTest, AShortReplyIsReturnedAfterTheTotalTimeoutWithoutFailing)
{
    SetReadTimeouts(0, 0, 300);
    Pty.Send("abc");
    char buffer[10] = {};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Port.ReadBytes(buffer, 10), 3);
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(TransferTest, TheMultiplierExtendsTheTimeoutPerRequestedByte)
{
    SetReadTimeouts(0, 20, 0);
    char buffer[10];
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Port.ReadBytes(buffer, 10), 0);
    EXPECT_GE(clock.elapsed(), 200);
}

TEST_F(TransferTest, AReadEndsAsSoonAsAllRequestedBytesArrived)
{
    SetReadTimeouts(0, 0, 20000);
    std::thread peer([this] {
        Pty.Send("abc");
        std::this_thread::sleep_for(50ms);
        Pty.Send("defgh");
    });
    char buffer[6] = {};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Port.ReadBytes(buffer, 6), 6);
    peer.join();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
    // What was not asked for stays with the driver.
    AwaitQueued(2);
}

// A signal interrupts the wait for bytes; the wait goes on for what is left
// of the one deadline, not for a fresh time-out. Were it started over, a
// periodic signal shorter than the time-out would keep the read going until
// the signals stop (after 6 s here).
TEST_F(TransferTest, SignalsDoNotStretchTheTimeoutOfAReadOrAWrite)
{
    SetReadTimeouts(0, 0, 300);
    char buffer[10];
    QElapsedTimer clock;
    clock.start();
    {
        TSignalStorm storm(20, 6000);
        EXPECT_EQ(Port.ReadBytes(buffer, 10), 0);
        EXPECT_GT(storm.Taken(), 3) << "the read was not interrupted: the test proves nothing";
    }
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_LT(clock.elapsed(), 1500) << "the read waited five times its time-out";

    // A write that waits for room in a full queue (nobody reads the other side).
    Port.Timeouts().SetWriteTotalMultiplier(0);
    Port.Timeouts().SetWriteTotalConstant(300);
    std::vector<uint8_t> block(1 << 20, 'w');
    clock.restart();
    {
        TSignalStorm storm(20, 6000);
        const int32_t written = Port.WriteBytes(block.data(), int32_t(block.size()));
        EXPECT_LT(written, int32_t(block.size()));
        EXPECT_GT(storm.Taken(), 3) << "the write was not interrupted: the test proves nothing";
    }
    EXPECT_LT(clock.elapsed(), 1500) << "the write waited five times its time-out";
}

// Time-outs as long as the settings allow overflow any clock; they mean no
// limit, not a deadline in the past that ends the transfer at once.
TEST_F(TransferTest, TimeoutsTooLongForTheClockMeanNoLimit)
{
    struct TCase {
        int32_t Interval, Multiplier, Constant;
    };
    constexpr int32_t Count = 8192;
    for (const TCase& settings : {TCase{0, INT32_MAX, INT32_MAX}, TCase{0, -1, 0}, TCase{-1, -1, -1}}) {
        SCOPED_TRACE(::testing::Message() << "read time-outs " << settings.Interval << ", " << settings.Multiplier
                                          << ", " << settings.Constant);
        SetReadTimeouts(settings.Interval, settings.Multiplier, settings.Constant);
        std::vector<uint8_t> reply(Count, 'r');
        std::thread peer([&] {
            std::this_thread::sleep_for(200ms);
            Pty.Send(reply);
        });
        std::vector<uint8_t> buffer(Count);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(Port.ReadBytes(buffer.data(), Count), Count);
        EXPECT_GE(clock.elapsed(), 150);
        peer.join();
        EXPECT_TRUE(buffer == reply) << "the reply arrived changed";
        // A read that ended early leaves the reply to the next case.
        std::this_thread::sleep_for(50ms);
        Port.DiscardBuffers(true, false);
    }

    // A write with such time-outs waits for room until the other side reads.
    for (int32_t limit : {INT32_MAX, -1}) {
        SCOPED_TRACE(::testing::Message() << "write time-outs " << limit << ", " << limit);
        Port.Timeouts().SetWriteTotalMultiplier(limit);
        Port.Timeouts().SetWriteTotalConstant(limit);
        std::vector<uint8_t> block(1 << 18, 'w');
        std::vector<uint8_t> received;
        std::thread peer([&] {
            std::this_thread::sleep_for(200ms);
            received = Pty.Receive(block.size(), 10000);
        });
        EXPECT_EQ(Port.WriteBytes(block.data(), int32_t(block.size())), int32_t(block.size()));
        peer.join();
        EXPECT_EQ(received.size(), block.size());
    }
}

TEST_F(TransferTest, DefaultTimeoutsReturnAtOnceWithWhatIsQueued)
{
    char buffer[8];
    EXPECT_EQ(Port.ReadBytes(buffer, 8), 0);
    Pty.Send("12345");
    AwaitQueued(5);
    EXPECT_EQ(Port.ReadBytes(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "123");
    EXPECT_EQ(Port.QueuedInputCount(), 2);
    EXPECT_EQ(Port.ReadBytes(buffer, 8), 2);
}

TEST_F(TransferTest, AGapLongerThanTheIntervalEndsTheRead)
{
    SetReadTimeouts(50, 0, 20000);
    Pty.Send("xy");
    char buffer[10];
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Port.ReadBytes(buffer, 10), 2);
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST_F(TransferTest, FirstByteWaitReturnsWithTheFirstArrival)
{
    SetReadTimeouts(-1, -1, 20000);
    std::thread peer([this] {
        std::this_thread::sleep_for(50ms);
        Pty.Send("q");
    });
    char buffer[10];
    EXPECT_EQ(Port.ReadBytes(buffer, 10), 1);
    peer.join();
    EXPECT_EQ(buffer[0], 'q');
}

TEST_F(TransferTest, WrittenBytesArriveAndTheCountIsReturned)
{
    std::vector<uint8_t> block(20000);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 7);
    std::vector<uint8_t> received;
    std::thread peer([&] { received = Pty.Receive(block.size(), 10000); });
    EXPECT_EQ(Port.WriteBytes(block.data(), int32_t(block.size())), int32_t(block.size()));
    peer.join();
    EXPECT_EQ(received, block);
}

TEST_F(TransferTest, AWriteCutShortByItsTimeoutReportsWhatWentOut)
{
    // Nobody reads the other side: the pty's buffer fills and the write
    // time-out ends the write.
    Port.Timeouts().SetWriteTotalMultiplier(0);
    Port.Timeouts().SetWriteTotalConstant(200);
    std::vector<uint8_t> block(1 << 20, 'w');
    int32_t written = Port.WriteBytes(block.data(), int32_t(block.size()));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, int32_t(block.size()));
    EXPECT_EQ(Pty.Receive(block.size(), 500).size(), size_t(written));
}

TEST_F(TransferTest, PurgingTheInputDropsOnlyReceivedBytes)
{
    Pty.Send("stale");
    AwaitQueued(5);
    ASSERT_EQ(Port.WriteBytes("out", 3), 3);
    Port.DiscardBuffers(true, true);
    EXPECT_EQ(Port.QueuedInputCount(), 0);
    // The written bytes had left the port: the output purge must not reach
    // into the other side's unread input.
    EXPECT_EQ(Pty.Receive(3), Bytes("out"));
}

TEST_F(TransferTest, AByteWrittenJustBeforeACloseOrReopenArrives)
{
    for (int round = 0; round < 50; ++round) {
        const uint8_t divisor = uint8_t(round);
        ASSERT_EQ(Port.WriteBytes(&divisor, 1), 1);
        Port.ClosePort();
        Port.SetBaudRate(round % 2 ? br9600 : br57600);
        Port.OpenPort();
        ASSERT_EQ(Pty.Receive(1, 1000), std::vector<uint8_t>{divisor}) << "round " << round;
    }
    ASSERT_EQ(Port.WriteBytes("RSET", 4), 4);
    Port.ClosePort();
    EXPECT_EQ(Pty.Receive(4), Bytes("RSET"));
}

TEST_F(TransferTest, UnreadBytesAreGoneAfterClose)
{
    Pty.Send("junk");
    AwaitQueued(4);
    Port.ClosePort();
    Port.OpenPort();
    char buffer[8];
    EXPECT_EQ(Port.QueuedInputCount(), 0);
    EXPECT_EQ(Port.ReadBytes(buffer, 8), 0);
}

TEST_F(TransferTest, AHangupInTheMiddleOfAReadFailsAtOnce)
{
    SetReadTimeouts(0, 0, 30000);
    std::thread peer([this] {
        Pty.Send("ab");
        std::this_thread::sleep_for(100ms);
        Pty.Hangup();
    });
    char buffer[10];
    QElapsedTimer clock;
    clock.start();
    try {
        Port.ReadBytes(buffer, 10);
        ADD_FAILURE() << "the read did not notice the device went away";
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 3);
        EXPECT_EQ(failure.SystemErrorCode(), EIO);
    }
    peer.join();
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_TRUE(Port.Connected());
    // Every later transfer fails the same way; closing still works.
    EXPECT_THROW(Port.ReadBytes(buffer, 1), EComPort);
    try {
        Port.WriteBytes("x", 1);
        ADD_FAILURE();
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 2);
    }
    ServeEvents(50); // the event thread's hand-over of the hang-up
    Port.ClosePort();
    EXPECT_FALSE(Port.Connected());
}

TEST_F(TransferTest, AHangupWhileIdleFailsTheNextReadAtOnce)
{
    SetReadTimeouts(0, 0, 30000);
    Pty.Hangup();
    char byte;
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(Port.ReadBytes(&byte, 1), EComPort);
    EXPECT_LT(clock.elapsed(), 20000);
}

} // namespace
