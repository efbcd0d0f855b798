// The backend's drain and low-latency handling through a real
// pseudo-terminal, with stand-ins for the driver calls a pseudo-terminal
// cannot show: its output queue always reads empty and it has no serial
// settings.
#include "ptypair.h"
#include "serial/serialdevice_linux.h"

#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A device's driver as far as the stand-ins go: an output queue that holds
// bytes for a number of queries, a transmitter drain and a low-latency
// mode, with a record of the calls.
struct TDriverState {
    int QueuedQueries = 0; // queries that still find bytes queued (-1: every one)
    int QueuedBytes = 3;
    int DrainResult = 0;
    TProbe LowLatency = TProbe::No;
    int SwitchResult = 0; // what switching the mode returns
    std::vector<std::string> Calls;
    std::vector<bool> DrainBounded; // per drain: whether it had a deadline
};

TDriverCalls StandIns(const std::shared_ptr<TDriverState>& state)
{
    TDriverCalls calls = TDriverCalls::System();
    calls.OutputQueued = [state](int, int& queued) {
        queued = state->QueuedQueries != 0 ? state->QueuedBytes : 0;
        if (state->QueuedQueries > 0) --state->QueuedQueries;
        state->Calls.push_back("queued " + std::to_string(queued));
        return 0;
    };
    calls.DrainTransmitter = [state](int, const TDeadline& deadline) {
        state->Calls.push_back("drain");
        state->DrainBounded.push_back(!deadline.Infinite());
        return state->DrainResult;
    };
    calls.ReadLowLatency = [state](int, TProbe& on) {
        on = state->LowLatency;
        return 0;
    };
    calls.WriteLowLatency = [state](int, bool on) {
        state->Calls.push_back(on ? "low latency on" : "low latency off");
        if (state->SwitchResult == 0) state->LowLatency = on ? TProbe::Yes : TProbe::No;
        return state->SwitchResult;
    };
    return calls;
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override { Device.Platform().Driver = StandIns(State); }
    void Open()
    {
        Device.Open(Pty.SlavePath());
        State->Calls.clear();
    }
    void SetWriteTimeouts(int32_t multiplier, int32_t constant)
    {
        TTimeoutValues timeouts;
        timeouts.WriteTotalMultiplier = multiplier;
        timeouts.WriteTotalConstant = constant;
        Device.ApplyTimeouts(timeouts);
    }
    void SetOutputFlow(bool rtsCts, bool xonXoff)
    {
        TLineSettings line;
        line.RtsCtsFlow = rtsCts;
        line.XonXoffOut = xonXoff;
        Device.ApplyLine(line, dtrEnable, rtsCts ? rtsHandshake : rtsDisable);
    }
    TPtyPair Pty;
    std::shared_ptr<TDriverState> State = std::make_shared<TDriverState>();
    TSerialDevice Device;
};

// Bytes the driver still holds are waited for, then the transmitter, and
// the write counts them all as sent.
TEST_F(DeviceTest, AWriteWaitsForTheDriverQueueAndThenForTheTransmitter)
{
    Open();
    State->QueuedQueries = 3;
    const uint64_t before = TSerialDevice::QueueWaitsOfAllDevices();
    EXPECT_EQ(Device.Write("hello", 5), 5);
    EXPECT_EQ(State->Calls, (std::vector<std::string>{"queued 3", "queued 3", "queued 3", "queued 0", "drain"}));
    EXPECT_EQ(State->DrainBounded, std::vector<bool>{true}) << "the write time-out bounds the drain";
    EXPECT_EQ(Device.QueueWaits(), 3u);
    EXPECT_GE(TSerialDevice::QueueWaitsOfAllDevices() - before, 3u);
    EXPECT_EQ(Pty.Receive(5), Bytes("hello"));

    // Without write time-outs the drain has no limit either; a write that
    // finds the queue empty does not count.
    SetWriteTimeouts(0, 0);
    State->Calls.clear();
    EXPECT_EQ(Device.Write("x", 1), 1);
    EXPECT_EQ(State->Calls, (std::vector<std::string>{"queued 0", "drain"}));
    EXPECT_EQ(State->DrainBounded, (std::vector<bool>{true, false}));
    EXPECT_EQ(Device.QueueWaits(), 3u);
}

// What the driver still holds at the deadline did not go out: it is
// dropped and not counted, and the transmitter is not waited for.
TEST_F(DeviceTest, AQueueThatDoesNotEmptyEndsTheWriteAtItsTimeout)
{
    Open();
    SetWriteTimeouts(0, 200);
    State->QueuedQueries = -1;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Device.Write("hello", 5), 2);
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_GT(Device.QueueWaits(), 1u);
    for (const std::string& call : State->Calls) EXPECT_NE(call, "drain");
}

// Flow control may hold the output past any time-out: the transmitter is
// then not waited for.
TEST_F(DeviceTest, NoTransmitterWaitWhileFlowControlMayHoldTheOutput)
{
    Open();
    struct TCase {
        bool RtsCts, XonXoff;
        size_t Drains;
    };
    for (const TCase& flow : {TCase{true, false, 0}, TCase{false, true, 0}, TCase{false, false, 1}}) {
        SCOPED_TRACE(::testing::Message() << "RTS/CTS " << flow.RtsCts << ", XON/XOFF " << flow.XonXoff);
        SetOutputFlow(flow.RtsCts, flow.XonXoff);
        State->DrainBounded.clear();
        EXPECT_EQ(Device.Write("abc", 3), 3);
        EXPECT_EQ(State->DrainBounded.size(), flow.Drains);
        EXPECT_EQ(Pty.Receive(3), Bytes("abc"));
    }
}

TEST_F(DeviceTest, ADrainThatFailsFailsTheWriteButItsTimeoutDoesNot)
{
    Open();
    State->DrainResult = ETIMEDOUT; // the bytes are the adapter's to send by then
    EXPECT_EQ(Device.Write("abc", 3), 3);
    State->DrainResult = EIO;
    try {
        Device.Write("abc", 3);
        ADD_FAILURE() << "a failed drain went unreported";
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), CError_WriteFailed);
        EXPECT_EQ(failure.SystemErrorCode(), EIO);
    }
}

// The mode outlives the descriptor: what the open switched on, the close
// switches off; what it found on stays on.
TEST_F(DeviceTest, TheLowLatencyModeIsLeftAsItWasFound)
{
    for (TProbe found : {TProbe::No, TProbe::Yes, TProbe::Unsupported}) {
        SCOPED_TRACE(::testing::Message() << "found " << int(found));
        State->LowLatency = found;
        State->Calls.clear();
        Device.Open(Pty.SlavePath());
        EXPECT_EQ(State->LowLatency, found == TProbe::Unsupported ? found : TProbe::Yes) << "while open";
        Device.Close();
        EXPECT_EQ(State->LowLatency, found) << "after the close";
    }
    // A mode the driver refused to switch on is not switched off either.
    State->LowLatency = TProbe::No;
    State->SwitchResult = EPERM;
    State->Calls.clear();
    Device.Open(Pty.SlavePath());
    Device.Close();
    EXPECT_EQ(State->Calls, std::vector<std::string>{"low latency on"});
}

// A read that waits for its bytes runs the wait hook between slices of the
// wait; bytes arriving end it at once. A hook that raises ends the read
// with its exception, and the bytes that come later are still there.
TEST_F(DeviceTest, TheWaitHookRunsWhileAReadWaits)
{
    Open();
    TTimeoutValues timeouts;
    timeouts.ReadInterval = 0;
    timeouts.ReadTotalConstant = 5000;
    Device.ApplyTimeouts(timeouts);
    int calls = 0;
    Device.SetWaitHook([&] {
        if (++calls == 4) Pty.Send("reply");
    });
    char buffer[5];
    ASSERT_EQ(Device.Read(buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "reply");
    EXPECT_EQ(calls, 4) << "the bytes sent from the fourth call end the wait";

    Device.SetWaitHook([] { throw std::runtime_error("cancelled"); });
    EXPECT_THROW(Device.Read(buffer, 5), std::runtime_error);
    Device.SetWaitHook(nullptr);
    Pty.Send("later");
    ASSERT_EQ(Device.Read(buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "later");
}

// The system's calls on a real pseudo-terminal: no serial settings, an
// empty queue, a drain that ends at once.
TEST(DriverCalls, APseudoTerminalHasNoSerialSettingsAndDrainsAtOnce)
{
    TPtyPair pty;
    const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const TDriverCalls system = TDriverCalls::System();
    TProbe lowLatency = TProbe::Yes;
    EXPECT_EQ(system.ReadLowLatency(fd, lowLatency), 0);
    EXPECT_EQ(lowLatency, TProbe::Unsupported);
    EXPECT_NE(system.WriteLowLatency(fd, true), 0);
    ASSERT_EQ(write(fd, "abc", 3), 3);
    int queued = -1;
    EXPECT_EQ(system.OutputQueued(fd, queued), 0);
    EXPECT_EQ(queued, 0);
    EXPECT_EQ(system.DrainTransmitter(fd, TDeadline::After(5000)), 0);
    EXPECT_EQ(system.DrainTransmitter(fd, TDeadline::Never()), 0);
    close(fd);
}

// The bound of a drain: a call that would wait for ever (as a drain whose
// transmitter never empties) is interrupted at the deadline.
TEST(DriverCalls, ABlockingCallEndsAtItsDeadline)
{
    QElapsedTimer clock;
    clock.start();
    int calls = 0;
    EXPECT_EQ(CallUntil(TDeadline::After(200),
                        [&] {
                            ++calls;
                            pause();
                            return errno;
                        }),
              ETIMEDOUT);
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_GE(calls, 1);
    // A call that ends by itself gives its own result; one already late is not made.
    EXPECT_EQ(CallUntil(TDeadline::After(5000), [] { return EPIPE; }), EPIPE);
    calls = 0;
    EXPECT_EQ(CallUntil(TDeadline::Now(), [&] { return ++calls, 0; }), ETIMEDOUT);
    EXPECT_EQ(calls, 0);
    // Without a deadline an interrupted call is simply made again.
    calls = 0;
    EXPECT_EQ(CallUntil(TDeadline::Never(), [&] { return ++calls < 3 ? EINTR : 0; }), 0);
    EXPECT_EQ(calls, 3);
}

} // namespace
