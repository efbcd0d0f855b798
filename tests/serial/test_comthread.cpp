// The event thread: hand-overs to the owner thread, no spinning while bytes
// stay queued, and stopping without deadlock.
#include "ptypair.h"
#include "serial/comport.h"

#include <QElapsedTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

class ComThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        Port.SetPort(Pty.SlavePath());
        Port.OnRxChar = [this](QObject* sender, int32_t count) {
            EXPECT_EQ(sender, &Port);
            ++RxCalls;
            LastCount = count;
        };
    }
    // Serves events until `done` holds or a generous limit passes.
    template <typename F>
    void ServeUntil(F done)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000) ServeEvents(10);
    }
    TPtyPair Pty;
    TComPort Port;
    int RxCalls = 0;
    int32_t LastCount = 0;
};

TEST_F(ComThreadTest, ReceivedBytesAreReportedAndStayReadable)
{
    Port.OpenPort();
    EXPECT_TRUE(Port.EventThreadRunning());
    Pty.Send("hello");
    ServeUntil([this] { return LastCount == 5; });
    EXPECT_GE(RxCalls, 1);
    EXPECT_EQ(LastCount, 5);
    char buffer[5];
    EXPECT_EQ(Port.ReadBytes(buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST_F(ComThreadTest, QueuedBytesDoNotKeepTheThreadBusy)
{
    Port.OpenPort();
    Pty.Send("x");
    ServeUntil([this] { return RxCalls > 0; });
    // The byte stays unread: one arrival is one hand-over, however long it waits.
    ServeEvents(300);
    EXPECT_EQ(RxCalls, 1);
    Pty.Send("y");
    ServeUntil([this] { return RxCalls > 1; });
    ServeEvents(100);
    EXPECT_EQ(RxCalls, 2);
    EXPECT_EQ(LastCount, 2);
}

TEST_F(ComThreadTest, APortWithoutEventsRunsNoThread)
{
    Port.SetEvents(0);
    Port.OpenPort();
    EXPECT_FALSE(Port.EventThreadRunning());
    Pty.Send("ab");
    ServeEvents(100);
    EXPECT_EQ(RxCalls, 0);
    Port.Timeouts().SetReadInterval(0);
    Port.Timeouts().SetReadTotalConstant(1000);
    char buffer[2];
    EXPECT_EQ(Port.ReadBytes(buffer, 2), 2);
}

TEST_F(ComThreadTest, UnselectedEventsAreNotHandedOver)
{
    Port.SetEvents(ComEventBit(evError));
    Port.OpenPort();
    Pty.Send("ab");
    ServeEvents(100);
    EXPECT_EQ(RxCalls, 0);
}

// Without received-data events the watch leaves arrivals out altogether:
// reads around them still work, and a hang-up still wakes it.
TEST_F(ComThreadTest, WithoutReceivedDataEventsAHangupStillEndsTheThread)
{
    Port.SetEvents(ComEventBit(evError));
    Port.Timeouts().SetReadInterval(0);
    Port.Timeouts().SetReadTotalConstant(2000);
    Port.OpenPort();
    Pty.Send("ab");
    char back[2];
    ASSERT_EQ(Port.ReadBytes(back, 2), 2);
    EXPECT_EQ(std::string(back, 2), "ab");
    ServeEvents(50);
    EXPECT_EQ(RxCalls, 0);
    EXPECT_TRUE(Port.EventThreadRunning());
    Pty.Hangup();
    ServeUntil([this] { return !Port.EventThreadRunning(); });
    EXPECT_FALSE(Port.EventThreadRunning());
    Port.ClosePort();
}

TEST_F(ComThreadTest, ClosingWhileAHandOverWaitsEndsWithoutDeadlock)
{
    Port.OpenPort();
    Pty.Send("pending");
    // The owner thread handles no events now, so the hand-over stays pending.
    std::this_thread::sleep_for(100ms);
    Port.ClosePort();
    EXPECT_FALSE(Port.Connected());
    // The withdrawn hand-over finds nothing to do once events run again.
    ServeEvents(50);
    EXPECT_EQ(RxCalls, 0);
}

TEST_F(ComThreadTest, AHandlerMayCloseThePort)
{
    Port.OnRxChar = [this](QObject*, int32_t) {
        ++RxCalls;
        Port.ClosePort();
    };
    Port.OpenPort();
    Pty.Send("z");
    ServeUntil([this] { return RxCalls > 0; });
    EXPECT_EQ(RxCalls, 1);
    EXPECT_FALSE(Port.Connected());
}

TEST_F(ComThreadTest, AFailureWhileHandlingEndsTheThreadButNotThePort)
{
    Port.OnRxChar = [this](QObject*, int32_t) {
        ++RxCalls;
        throw Exception("handler failed");
    };
    Port.OpenPort();
    Pty.Send("a");
    ServeUntil([this] { return RxCalls > 0 && !Port.EventThreadRunning(); });
    EXPECT_FALSE(Port.EventThreadRunning());
    Pty.Send("b");
    ServeEvents(100);
    EXPECT_EQ(RxCalls, 1); // no further hand-overs
    // The port stays open and usable, and its bytes were not purged.
    EXPECT_TRUE(Port.Connected());
    char buffer[2];
    EXPECT_EQ(Port.ReadBytes(buffer, 2), 2);
    Port.ClosePort();
    EXPECT_FALSE(Port.Connected());
}

TEST_F(ComThreadTest, AHangupIsHandedOverAsALineErrorThatEndsTheThread)
{
    bool errorReported = false;
    Port.OnError = [&](QObject*, TComErrors) { errorReported = true; };
    Port.OpenPort();
    Pty.Hangup();
    // The error query fails on the vanished device, which ends the thread.
    ServeUntil([this] { return !Port.EventThreadRunning(); });
    EXPECT_FALSE(Port.EventThreadRunning());
    EXPECT_FALSE(errorReported);
    EXPECT_TRUE(Port.Connected());
    Port.ClosePort();
    EXPECT_FALSE(Port.Connected());
}

TEST_F(ComThreadTest, BytesLeftOverByAReadAreReportedAfterIt)
{
    Port.Timeouts().SetReadInterval(0);
    Port.Timeouts().SetReadTotalConstant(5000);
    Port.OpenPort();
    std::thread peer([this] {
        std::this_thread::sleep_for(50ms);
        Pty.Send("abcdef");
    });
    char buffer[4];
    EXPECT_EQ(Port.ReadBytes(buffer, 4), 4);
    peer.join();
    // The reader took its four bytes itself; the two it left are news.
    ServeUntil([this] { return RxCalls > 0; });
    EXPECT_EQ(LastCount, 2);
    EXPECT_EQ(Port.ReadBytes(buffer, 2), 2);
    EXPECT_EQ(std::string(buffer, 2), "ef");
}

TEST_F(ComThreadTest, ReopeningStartsAFreshThread)
{
    Port.OpenPort();
    Port.ClosePort();
    EXPECT_FALSE(Port.EventThreadRunning());
    Port.OpenPort();
    EXPECT_TRUE(Port.EventThreadRunning());
    Pty.Send("again");
    ServeUntil([this] { return LastCount == 5; });
    EXPECT_EQ(LastCount, 5);
}

} // namespace
