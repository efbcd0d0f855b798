// The port's settings model, apply rules and open/close, through a real
// pseudo-terminal.
#include "ptypair.h"
#include "serial/comport.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string Busy = "The port is in use by another program: close it (a terminal program, ModemManager or "
                         "brltty may hold it) and try again.";
const std::string Denied = "Permission denied: add your user to the 'dialout' group and log in again.";
const std::string Missing = "No such device: check the cable or adapter and the port name.";

std::string OpenFailed(int error) { return "Unable to open com port (win error code: " + std::to_string(error) + ")"; }

// What opening `path` as a port reports: "" when it opened.
std::string OpenFailure(const std::string& path)
{
    TComPort port;
    port.SetPort(path);
    try {
        port.OpenPort();
    } catch (const EComPort& failure) {
        return failure.Message();
    }
    return "";
}

// The same from a child process that first drops root for the user
// "nobody": root opens any device whatever its mode. "-" when the child
// could not become that user.
std::string OpenFailureAsAnotherUser(const std::string& path)
{
    int out[2];
    if (pipe(out) != 0) return "-";
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        const passwd* nobody = getpwnam("nobody");
        std::string text = "-";
        if (nobody && setgroups(0, nullptr) == 0 && setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0)
            text = OpenFailure(path);
        ssize_t written = write(out[1], text.data(), text.size());
        _exit(written == ssize_t(text.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return text;
}

// Records which apply steps ran while the port could apply them.
class TRecordingPort : public TComPort {
public:
    std::vector<std::string> Applied;
    void ApplyBufferSizes() override
    {
        Record("buffer");
        TComPort::ApplyBufferSizes();
    }
    void ApplyLineSettings() override
    {
        Record("line");
        TComPort::ApplyLineSettings();
    }
    void ApplyTimeoutSettings() override
    {
        Record("timeouts");
        TComPort::ApplyTimeoutSettings();
    }

private:
    void Record(const char* step)
    {
        if (Connected()) Applied.push_back(step);
    }
};

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
    TPtyPair Pty;
};

TEST(ComPortSettings, NewPortStartsClosedWithTheInitialSettings)
{
    TComPort port;
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_FALSE(port.Parity().Check());
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Events(), 1023);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.DeviceHandle(), -1);
}

TEST(ComPortSettings, OddBufferSizesAreLoweredByOne)
{
    TComPort port;
    port.Buffer().SetInputSize(4095);
    port.Buffer().SetOutputSize(513);
    EXPECT_EQ(port.Buffer().InputSize(), 4094);
    EXPECT_EQ(port.Buffer().OutputSize(), 512);
    port.Buffer().SetInputSize(-3); // only positive sizes are evened
    EXPECT_EQ(port.Buffer().InputSize(), -3);
}

TEST(ComPortSettings, FlowControlShorthandRoundTrips)
{
    TComPort port;
    TComFlowControl& flow = port.FlowControl();
    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(flow.OutCTSFlow());
    flow.SetControlRTS(rtsEnable);
    EXPECT_EQ(flow.FlowControl(), fcCustom);

    flow.SetFlowControl(fcSoftware);
    EXPECT_EQ(flow.FlowControl(), fcSoftware);
    EXPECT_EQ(flow.ControlRTS(), rtsDisable);
    EXPECT_FALSE(flow.OutCTSFlow());
    EXPECT_TRUE(flow.XonXoffIn() && flow.XonXoffOut());

    flow.SetXonXoffIn(false); // one direction only is nothing named
    EXPECT_EQ(flow.FlowControl(), fcCustom);
    flow.SetFlowControl(fcCustom); // changes no field
    EXPECT_FALSE(flow.XonXoffIn());
    EXPECT_TRUE(flow.XonXoffOut());

    flow.SetFlowControl(fcNone);
    EXPECT_EQ(flow.FlowControl(), fcNone);
    // DTR and DSR play no part in the shorthand.
    flow.SetControlDTR(dtrHandshake);
    flow.SetOutDSRFlow(true);
    EXPECT_EQ(flow.FlowControl(), fcNone);
}

TEST(ComPortSettings, AssigningSettingsObjectsCopiesEveryField)
{
    TComPort source, target;
    source.Parity().SetBits(prMark);
    source.Parity().SetCheck(true);
    source.Parity().SetReplace(true);
    source.Parity().SetReplaceChar('?');
    source.FlowControl().SetFlowControl(fcHardware);
    source.FlowControl().SetControlDTR(dtrEnable);
    source.FlowControl().SetDSRSensitivity(true);
    source.FlowControl().SetTxContinueOnXoff(true);
    source.FlowControl().SetOutDSRFlow(true);
    source.FlowControl().SetXonChar('a');
    source.FlowControl().SetXoffChar('b');
    target.SetParity(source.Parity());
    target.SetFlowControl(source.FlowControl());
    EXPECT_EQ(target.Parity().Bits(), prMark);
    EXPECT_TRUE(target.Parity().Check());
    EXPECT_TRUE(target.Parity().Replace());
    EXPECT_EQ(target.Parity().ReplaceChar(), '?');
    EXPECT_EQ(target.FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(target.FlowControl().ControlDTR(), dtrEnable);
    EXPECT_TRUE(target.FlowControl().DSRSensitivity());
    EXPECT_TRUE(target.FlowControl().TxContinueOnXoff());
    EXPECT_TRUE(target.FlowControl().OutDSRFlow());
    EXPECT_EQ(target.FlowControl().XonChar(), 'a');
    EXPECT_EQ(target.FlowControl().XoffChar(), 'b');
}

TEST(ComPortErrors, MessagesCarryTheTextAndTheSystemErrorNumber)
{
    EXPECT_EQ(EComPort(1, EINVAL).Message(), "Unable to open com port (win error code: 22)");
    EXPECT_EQ(EComPort(3, 5).Message(), "ReadFile function failed (win error code: 5)");
    EXPECT_EQ(EComPort(14).Message(), "Cannot set property while connected");
    EXPECT_EQ(EComPort(23, 20).Message(), "Registry error (win error code: 20)");
    EComPort failure(7, 22);
    EXPECT_EQ(failure.MessageCode(), 7);
    EXPECT_EQ(failure.SystemErrorCode(), 22);
    EXPECT_EQ(EComPort(4).SystemErrorCode(), -1);
}

TEST_F(ComPortTest, OpenAndCloseAreIdempotent)
{
    TComPort port;
    port.ClosePort(); // closed: nothing happens
    port.SetPort(Pty.SlavePath());
    port.OpenPort();
    ASSERT_TRUE(port.Connected());
    const intptr_t handle = port.DeviceHandle();
    port.OpenPort();
    EXPECT_EQ(port.DeviceHandle(), handle);
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.DeviceHandle(), -1);
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortTest, SecondOpenOfTheSameDeviceFailsWithCodeOne)
{
    TComPort first, second;
    first.SetPort(Pty.SlavePath());
    second.SetPort(Pty.SlavePath());
    first.OpenPort();
    try {
        second.OpenPort();
        FAIL() << "the device was opened twice";
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 1);
        EXPECT_EQ(failure.SystemErrorCode(), EBUSY);
        EXPECT_EQ(failure.Message(), OpenFailed(EBUSY) + "\n" + Busy);
    }
    EXPECT_FALSE(second.Connected());
    // Once the first lets go, the device is free again.
    first.ClosePort();
    second.OpenPort();
    EXPECT_TRUE(second.Connected());
}

TEST_F(ComPortTest, DevicesThatCannotServeAsPortsFailToOpen)
{
    TComPort port;
    port.SetPort("/dev/no-such-serial-device");
    try {
        port.OpenPort();
        FAIL();
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 1);
        EXPECT_EQ(failure.SystemErrorCode(), ENOENT);
        EXPECT_EQ(failure.Message(), OpenFailed(ENOENT) + "\n" + Missing);
    }
    EXPECT_FALSE(port.Connected());
    port.SetPort("/dev/null"); // not a tty
    try {
        port.OpenPort();
        FAIL();
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 1);
        EXPECT_EQ(failure.SystemErrorCode(), ENOTTY);
        EXPECT_EQ(failure.Message(), OpenFailed(ENOTTY)) << "no advice for a cause without one";
    }
    port.SetPort(""); // what an OK without a chosen port leaves
    EXPECT_THROW(port.OpenPort(), EComPort);
    EXPECT_FALSE(port.Connected());
}

// The first line of a refused open stays as it always was; the second
// names the cause and what the operator can do about it.
TEST_F(ComPortTest, APortAnotherProgramHoldsSaysSo)
{
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    if (holder == 0) { // another program that takes our lock and keeps it
        close(release[1]);
        const int fd = open(Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        const char state = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        if (write(ready[1], &state, 1) != 1) _exit(1);
        char end;
        _exit(read(release[0], &end, 1) >= 0 ? 0 : 1);
    }
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    EXPECT_EQ(state, 'y');
    EXPECT_EQ(OpenFailure(Pty.SlavePath()), OpenFailed(EBUSY) + "\n" + Busy);
    close(release[1]);
    waitpid(holder, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0]}) close(fd);
    EXPECT_EQ(OpenFailure(Pty.SlavePath()), "") << "free again once the other program ended";
}

TEST_F(ComPortTest, ADeviceTheUserMayNotOpenSaysToJoinDialout)
{
    ASSERT_EQ(chmod(Pty.SlavePath().c_str(), 0), 0);
    std::string failure;
    if (geteuid() == 0) {
        failure = OpenFailureAsAnotherUser(Pty.SlavePath());
        if (failure == "-") GTEST_SKIP() << "running as root and unable to become another user: root opens any device";
    } else {
        failure = OpenFailure(Pty.SlavePath());
    }
    EXPECT_EQ(failure, OpenFailed(EACCES) + "\n" + Denied);
}

TEST_F(ComPortTest, SyncMethodChangesOnlyWhileClosed)
{
    TComPort port;
    port.SetPort(Pty.SlavePath());
    port.SetSyncMethod(smNone);
    port.OpenPort();
    try {
        port.SetSyncMethod(smThreadSync);
        FAIL();
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 14);
        EXPECT_EQ(failure.Message(), "Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(ComPortTest, EveryBitRateIsReadBackFromTheDevice)
{
    TComPort port;
    port.SetPort(Pty.SlavePath());
    port.OpenPort();
    for (int rate = br110; rate <= br256000; ++rate) {
        port.SetBaudRate(TBaudRate(rate));
        EXPECT_EQ(Pty.SlaveBitRate(), BaudRateBits(TBaudRate(rate))) << "rate " << rate;
        EXPECT_EQ(port.DeviceBaudRate(), BaudRateBits(TBaudRate(rate)));
    }
    port.SetCustomBaudRate(31250);
    port.SetBaudRate(brCustom);
    EXPECT_EQ(Pty.SlaveBitRate(), 31250);
}

TEST_F(ComPortTest, SettingsOfAClosedPortAreAppliedAtOpen)
{
    TComPort port;
    port.SetPort(Pty.SlavePath());
    port.SetBaudRate(br56000);
    EXPECT_EQ(port.DeviceBaudRate(), 0);
    port.OpenPort();
    EXPECT_EQ(Pty.SlaveBitRate(), 56000);
}

TEST_F(ComPortTest, OnlyChangedValuesReachTheDevice)
{
    TRecordingPort port;
    port.SetPort(Pty.SlavePath());
    port.OpenPort();
    EXPECT_EQ(port.Applied, (std::vector<std::string>{"buffer", "line", "timeouts"}));
    port.Applied.clear();
    port.SetBaudRate(br9600);
    port.SetDataBits(dbEight);
    port.Parity().SetBits(prNone);
    port.Timeouts().SetReadTotalConstant(0);
    port.Buffer().SetInputSize(1024);
    EXPECT_TRUE(port.Applied.empty());
    port.SetBaudRate(br19200);
    port.Timeouts().SetReadTotalConstant(5);
    port.Buffer().SetOutputSize(2048);
    EXPECT_EQ(port.Applied, (std::vector<std::string>{"line", "timeouts", "buffer"}));
    EXPECT_EQ(Pty.SlaveBitRate(), 19200);
    // Whole objects and the shorthand re-apply even when nothing changed.
    port.Applied.clear();
    port.SetParity(port.Parity());
    port.FlowControl().SetFlowControl(fcNone);
    EXPECT_EQ(port.Applied, (std::vector<std::string>{"line", "line"}));
}

TEST_F(ComPortTest, SuspendedChangesReachTheDeviceOnceAtTheOutermostResume)
{
    TRecordingPort port;
    port.SetPort(Pty.SlavePath());
    port.OpenPort();
    port.Applied.clear();
    port.SuspendApply();
    port.SuspendApply();
    port.SetBaudRate(br115200);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prEven);
    port.Timeouts().SetReadInterval(0);
    port.ResumeApply();
    EXPECT_EQ(Pty.SlaveBitRate(), 9600) << "applied while still suspended";
    port.ResumeApply();
    EXPECT_EQ(Pty.SlaveBitRate(), 115200);
    // The calls made while suspended applied nothing; then one of each, in order.
    std::vector<std::string> tail(port.Applied.end() - 3, port.Applied.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"buffer", "line", "timeouts"}));
    port.Applied.clear();
    port.ResumeApply(); // unmatched: ignored
    EXPECT_TRUE(port.Applied.empty());
    port.SetBaudRate(br1200); // nesting is back at zero: applies at once
    EXPECT_EQ(Pty.SlaveBitRate(), 1200);
}

TEST_F(ComPortTest, ALineTheUartCannotCarryIsRefusedAndTheOpenUndone)
{
    TComPort port;
    port.SetPort(Pty.SlavePath());
    port.SetStopBits(sbOne5StopBits); // only with 5-bit characters
    try {
        port.OpenPort();
        FAIL();
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 7);
        EXPECT_EQ(failure.SystemErrorCode(), EINVAL);
    }
    EXPECT_FALSE(port.Connected());
    port.SetDataBits(dbFive);
    port.OpenPort();
    EXPECT_TRUE(port.Connected());
    // A rate the line cannot run at fails on the open port, and the new
    // value stays stored although the device did not take it.
    port.SetCustomBaudRate(0); // not in use while BaudRate names a rate
    EXPECT_THROW(port.SetBaudRate(brCustom), EComPort);
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortTest, ChangingThePortNameReopensOnTheNewDevice)
{
    TPtyPair other;
    TRecordingPort port;
    port.SetPort(Pty.SlavePath());
    port.OpenPort();
    port.Applied.clear();
    port.SetPort(Pty.SlavePath()); // same name: nothing at all
    EXPECT_TRUE(port.Applied.empty());
    port.SetPort(other.SlavePath());
    EXPECT_TRUE(port.Connected());
    other.Send("x");
    char byte = 0;
    port.Timeouts().SetReadTotalConstant(1000);
    port.Timeouts().SetReadInterval(0);
    EXPECT_EQ(port.ReadBytes(&byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    // The first device is free again.
    TComPort second;
    second.SetPort(Pty.SlavePath());
    second.OpenPort();
    EXPECT_TRUE(second.Connected());
}

TEST_F(ComPortTest, APseudoTerminalReportsNoModemLinesOrLineErrors)
{
    TComPort port;
    port.SetPort(Pty.SlavePath());
    port.OpenPort();
    EXPECT_EQ(port.ModemSignals(), 0);
    EXPECT_EQ(port.LineErrors(), 0);
}

TEST_F(ComPortTest, OpenAndCloseReportsRunInOrder)
{
    TComPort port;
    std::vector<std::string> calls;
    port.OnBeforeOpen = [&](QObject*) { calls.push_back("before-open"); };
    port.OnAfterOpen = [&](QObject*) { calls.push_back("after-open"); };
    port.OnCTSChange = [&](QObject*, bool on) { calls.push_back(on ? "cts-on" : "cts-off"); };
    port.OnDSRChange = [&](QObject*, bool on) { calls.push_back(on ? "dsr-on" : "dsr-off"); };
    port.OnRLSDChange = [&](QObject*, bool on) { calls.push_back(on ? "rlsd-on" : "rlsd-off"); };
    port.OnBeforeClose = [&](QObject* sender) {
        EXPECT_EQ(sender, &port);
        EXPECT_TRUE(port.Connected());
        calls.push_back("before-close");
    };
    port.OnAfterClose = [&](QObject*) {
        EXPECT_FALSE(port.Connected());
        calls.push_back("after-close");
    };
    port.SetPort(Pty.SlavePath());
    port.OpenPort();
    port.ClosePort();
    EXPECT_EQ(calls, (std::vector<std::string>{"before-open", "after-open", "cts-off", "dsr-off", "rlsd-off", "cts-off",
                                               "dsr-off", "rlsd-off", "before-close", "after-close"}));
}

} // namespace
