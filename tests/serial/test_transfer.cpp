// Blocking transfers through a pseudo-terminal: the read time-out rule,
// writes that have left the driver, purges, and a device that goes away.
#include "ptypair.h"
#include "serial/comport.h"

#include <QElapsedTimer>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

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
