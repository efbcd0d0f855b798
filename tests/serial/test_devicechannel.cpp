// The device channel: defaults, scrambling, transactions against a peer on
// the other side of a pseudo-terminal, waits and settings copies.
#include "ptypair.h"
#include "serial/devicechannel.h"

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(MorvexComPortSettings, ChannelDefaultsOverThePortsOwn)
{
    TMorvexComPort port;
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.Buffer().InputSize(), 4096);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 1000);
    EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
    EXPECT_EQ(port.Timeouts().ReadInterval(), 0);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.ScrambleCounter(), 0);
    port.SetReplyTimeout(250);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 250);
}

TEST(MorvexComPortSettings, ActualBaudRateFollowsTheChosenRate)
{
    TMorvexComPort port;
    EXPECT_EQ(port.ActualBaudRate(), 9600);
    port.SetBaudRate(br115200);
    EXPECT_EQ(port.ActualBaudRate(), 115200);
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(port.ActualBaudRate(), 115200);
    port.SetBaudRate(brCustom);
    EXPECT_EQ(port.ActualBaudRate(), 31250);
}

TEST(MorvexComPortScramble, TheCounterRunsOnAndWraps)
{
    TMorvexComPort port;
    uint8_t skip[254] = {};
    port.ScrambleBytes(skip, 254);
    ASSERT_EQ(port.ScrambleCounter(), 254);
    uint8_t zeros[4] = {};
    port.ScrambleBytes(zeros, 4);
    EXPECT_EQ(std::vector<uint8_t>(zeros, zeros + 4), (std::vector<uint8_t>{0xFE, 0xFF, 0x00, 0x01}));
    EXPECT_EQ(port.ScrambleCounter(), 2);

    port.ResetScramble();
    uint8_t abc[] = {'a', 'b', 'c'};
    port.ScrambleBytes(abc, 3);
    EXPECT_EQ(std::vector<uint8_t>(abc, abc + 3), (std::vector<uint8_t>{0x61, 0x63, 0x61}));
    EXPECT_EQ(port.ScrambleCounter(), 3);
    // The same operation with the same counter turns them back.
    port.ResetScramble();
    port.ScrambleBytes(abc, 3);
    EXPECT_EQ(std::vector<uint8_t>(abc, abc + 3), Bytes("abc"));
    port.ScrambleBytes(abc, 0);
    port.ScrambleBytes(abc, -5);
    EXPECT_EQ(port.ScrambleCounter(), 3);
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        Port.SetPort(Pty.SlavePath());
        Port.SetReplyTimeout(300);
        Port.OpenPort();
    }
    TPtyPair Pty;
    TMorvexComPort Port;
};

TEST_F(ChannelTest, BytesReceivedBeforeARequestNeverCountTowardsItsReply)
{
    Pty.Send("old");
    for (int i = 0; i < 100 && Port.QueuedInputCount() < 3; ++i) std::this_thread::sleep_for(5ms);
    std::thread peer([this] {
        if (Pty.Receive(2) == Bytes("Q?")) Pty.Send("new");
    });
    uint8_t reply[3] = {};
    const uint8_t request[] = {'Q', '?'};
    Port.TransactPlain(request, 2, 3, reply);
    peer.join();
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 3), Bytes("new"));
}

TEST_F(ChannelTest, AReplyOneByteShortTimesOutWithTheBytesInTheBuffer)
{
    std::thread peer([this] {
        Pty.Receive(1);
        Pty.Send("ab");
    });
    uint8_t reply[3] = {0, 0, 0x55};
    const uint8_t request[] = {'R'};
    QElapsedTimer clock;
    clock.start();
    try {
        Port.TransactPlain(request, 1, 3, reply);
        ADD_FAILURE() << "a short reply was accepted";
    } catch (const EMorvexComTimeout& failure) {
        EXPECT_EQ(failure.Message(), "No Reply Within Time Out Period");
    }
    peer.join();
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_EQ(reply[0], 'a');
    EXPECT_EQ(reply[1], 'b');
    EXPECT_EQ(reply[2], 0x55);
    EXPECT_TRUE(Port.Connected());
}

TEST_F(ChannelTest, ScrambledTransactionsRunTheCounterFromRequestIntoReply)
{
    Port.ResetScramble();
    // The peer speaks the scrambled link: request bytes use 0 and 1, the
    // reply continues with 2, 3, 4.
    std::thread peer([this] {
        std::vector<uint8_t> request = Pty.Receive(2);
        if (request == std::vector<uint8_t>{'I' ^ 0, 'D' ^ 1})
            Pty.Send(std::vector<uint8_t>{'o' ^ 2, 'k' ^ 3, '!' ^ 4});
    });
    const uint8_t request[] = {'I', 'D'};
    uint8_t reply[3] = {};
    Port.TransactScrambled(request, 2, 3, reply);
    peer.join();
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 3), Bytes("ok!"));
    EXPECT_EQ(request[0], 'I'); // the caller's request is left as it was
    EXPECT_EQ(request[1], 'D');
    EXPECT_EQ(Port.ScrambleCounter(), 5);
}

TEST_F(ChannelTest, ATimedOutScrambledTransactionAdvancesTheCounterByTheRequestOnly)
{
    Port.ResetScramble();
    uint8_t skip[10] = {};
    Port.ScrambleBytes(skip, 10);
    std::thread peer([this] {
        Pty.Receive(4);
        Pty.Send(std::vector<uint8_t>{0x41 ^ 14});
    });
    const uint8_t request[] = {'R', 'E', 'A', 'D'};
    uint8_t reply[2] = {};
    EXPECT_THROW(Port.TransactScrambled(request, 4, 2, reply), EMorvexComTimeout);
    peer.join();
    EXPECT_EQ(Port.ScrambleCounter(), 14);
    EXPECT_EQ(reply[0], 0x41 ^ 14); // still scrambled
}

TEST_F(ChannelTest, SendScrambledLeavesTheCallersBytesAlone)
{
    Port.ResetScramble();
    const uint8_t message[] = {0x10, 0x10, 0x10};
    Port.SendScrambled(message, 3);
    EXPECT_EQ(Pty.Receive(3), (std::vector<uint8_t>{0x10, 0x11, 0x12}));
    EXPECT_EQ(message[2], 0x10);
    EXPECT_EQ(Port.ScrambleCounter(), 3);
}

TEST_F(ChannelTest, AHangupDuringATransactionIsAPortFailureNotATimeout)
{
    Port.SetReplyTimeout(30000);
    std::thread peer([this] {
        Pty.Receive(1);
        Pty.Send("p");
        std::this_thread::sleep_for(50ms);
        Pty.Hangup();
    });
    const uint8_t request[] = {'X'};
    uint8_t reply[8];
    QElapsedTimer clock;
    clock.start();
    try {
        Port.TransactPlain(request, 1, 8, reply);
        ADD_FAILURE();
    } catch (const EMorvexComTimeout&) {
        ADD_FAILURE() << "reported as a time-out";
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 3);
    }
    peer.join();
    EXPECT_LT(clock.elapsed(), 20000);
    // The next send fails at once as well.
    EXPECT_THROW(Port.SendPlain(request, 1), EComPort);
}

TEST_F(ChannelTest, ASendTheLineHoldsEndsAtItsWriteTimeOutAsAPortError)
{
    // Software flow control, and the far end has sent XOFF: the terminal
    // driver keeps the bytes, a write moves none of them within its time-out,
    // and trying again would wait for ever.
    Port.ClosePort();
    Port.FlowControl().SetFlowControl(fcSoftware);
    Port.Timeouts().SetWriteTotalConstant(300);
    Port.OpenPort();
    Pty.Send(std::vector<uint8_t>{0x13});
    ServeEvents(50);
    // Should the send not give up, XON after a while lets it end, and the
    // missing failure is reported instead of a hang.
    std::atomic<bool> sent{false};
    std::thread rescue([this, &sent] {
        for (int i = 0; i < 200 && !sent; ++i) std::this_thread::sleep_for(50ms);
        if (!sent) Pty.Send(std::vector<uint8_t>{0x11});
    });
    const std::vector<uint8_t> request(16, 'W');
    try {
        Port.SendPlain(request.data(), int32_t(request.size()));
        ADD_FAILURE() << "a send the line held was taken as done";
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), CError_WriteFailed);
    }
    sent = true;
    rescue.join();
}

TEST_F(ChannelTest, CopyingSettingsIntoAnOpenPortReopensItAndDropsReceivedBytes)
{
    TMorvexComPort holder;
    holder.SetPort(Pty.SlavePath());
    holder.SetBaudRate(br57600);
    holder.SetDataBits(dbSeven);
    holder.Parity().SetBits(prEven);
    holder.Parity().SetCheck(true);
    holder.SetStopBits(sbTwoStopBits);
    holder.FlowControl().SetXonChar(1);
    holder.SetReplyTimeout(5);
    holder.ResetScramble();
    uint8_t skip[7] = {};
    Port.ScrambleBytes(skip, 7);

    Pty.Send("before");
    for (int i = 0; i < 100 && Port.QueuedInputCount() < 6; ++i) std::this_thread::sleep_for(5ms);
    Port.CopySettingsFrom(holder);
    EXPECT_TRUE(Port.Connected());
    EXPECT_EQ(Port.QueuedInputCount(), 0);
    EXPECT_EQ(Pty.SlaveBitRate(), 57600);
    EXPECT_EQ(Port.DataBits(), dbSeven);
    EXPECT_EQ(Port.Parity().Bits(), prEven);
    EXPECT_TRUE(Port.Parity().Check());
    EXPECT_EQ(Port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(Port.FlowControl().XonChar(), 1);
    // Not copied: time-outs and the scramble counter.
    EXPECT_EQ(Port.Timeouts().ReadTotalConstant(), 300);
    EXPECT_EQ(Port.ScrambleCounter(), 7);
}

TEST(MorvexComPortCopy, CopyingIntoAClosedPortOnlyCopies)
{
    TMorvexComPort holder, target;
    holder.SetPort("ttyUSB7");
    holder.SetBaudRate(brCustom);
    holder.SetCustomBaudRate(250000);
    holder.FlowControl().SetFlowControl(fcHardware);
    target.CopySettingsFrom(holder);
    EXPECT_FALSE(target.Connected());
    EXPECT_EQ(target.Port(), "ttyUSB7");
    EXPECT_EQ(target.ActualBaudRate(), 250000);
    EXPECT_EQ(target.FlowControl().FlowControl(), fcHardware);
}

TEST(MorvexComPortWait, WaitMsNeverEndsEarlyAndKeepsEventsFlowing)
{
    EnsureApplication();
    TMorvexComPort port;
    int fired = 0;
    QTimer::singleShot(20, [&fired] { ++fired; });
    QTimer::singleShot(40, [&fired] { ++fired; });
    QElapsedTimer clock;
    clock.start();
    port.WaitMs(100);
    EXPECT_GE(clock.elapsed(), 100);
    EXPECT_EQ(fired, 2);
    clock.restart();
    port.WaitMs(0);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(ChannelTest, HandOversAreServedWhileWaiting)
{
    int32_t reported = 0;
    Port.OnRxChar = [&reported](QObject*, int32_t count) { reported = count; };
    Pty.Send("abcd");
    Port.WaitMs(200);
    EXPECT_EQ(reported, 4);
}

} // namespace
