// The Win32 serial backend against a real port: under Wine, a COM port
// mapped to a pseudo-terminal whose far end is tests/win32/linepeer.py,
// which the tests command over the line itself. On a PC, a null-modem pair
// with the peer on the other port.
//
//   serial_win32_tests.exe --port=COM7 [--wine] [gtest options]
//
// --wine marks the cases Wine cannot show (a second open refused in one
// process) as skipped instead of failed: they need a real PC.
#include "serial/comport.h"
#include "serial/devicechannel.h"
#include "serial/portnames.h"
#include "serial/portinfo.h"
#include "serial/serialdevice_win32.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string TestPort = "COM7";
bool UnderWine = false;

using TClock = std::chrono::steady_clock;
int64_t MsSince(TClock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

class Win32Device : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_THROW(Device.Open(PortDevicePath(TestPort)));
        TLineSettings line;
        line.BitRate = 115200;
        Device.ApplyQueueSizes(4096, 4096);
        Device.ApplyLine(line, dtrEnable, rtsDisable);
        // Whatever an earlier case left on the line is gone.
        SetTimeouts(-1, 0, 0);
        Drain();
    }
    void TearDown() override { Device.Close(); }

    void SetTimeouts(int32_t interval, int32_t multiplier, int32_t constant)
    {
        TTimeoutValues values;
        values.ReadInterval = interval;
        values.ReadTotalMultiplier = multiplier;
        values.ReadTotalConstant = constant;
        values.WriteTotalMultiplier = 10;
        values.WriteTotalConstant = 2000;
        Device.ApplyTimeouts(values);
    }
    void Drain()
    {
        char scrap[256];
        SetTimeouts(-1, 0, 100);
        while (Device.Read(scrap, sizeof scrap) > 0) {}
        Device.Purge(true, false);
    }
    void Send(const std::vector<uint8_t>& bytes)
    {
        ASSERT_EQ(Device.Write(bytes.data(), int32_t(bytes.size())), int32_t(bytes.size()));
    }
    // The peer sends `count` bytes after `delay` ms, and again after `gap` ms.
    void AskBurst(uint8_t count, uint16_t delay, uint16_t gap = 0)
    {
        Send({'B', count, uint8_t(delay >> 8), uint8_t(delay), uint8_t(gap >> 8), uint8_t(gap)});
    }
    // Waits (up to 5 s) until the driver holds `count` received bytes.
    int32_t WaitQueued(int32_t count)
    {
        const auto start = TClock::now();
        int32_t queued = 0;
        while ((queued = Device.QueuedInput()) < count && MsSince(start) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return queued;
    }

    TSerialDevice Device;
};

TEST_F(Win32Device, OpensThroughTheDeviceNamespaceWithTheLineSettings)
{
    EXPECT_EQ(PortDevicePath(TestPort), "\\\\.\\" + TestPort);
    EXPECT_TRUE(Device.IsOpen());
    EXPECT_EQ(Device.BitRate(), 115200);
    TLineSettings line;
    line.BitRate = 19200;
    line.CharBits = 7;
    line.Parity = prEven;
    line.StopBits = sbTwoStopBits;
    Device.ApplyLine(line, dtrEnable, rtsDisable);
    EXPECT_EQ(Device.BitRate(), 19200);
}

TEST_F(Win32Device, WrittenBytesReachThePeerAndComeBack)
{
    std::vector<uint8_t> payload(300);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7 + 1);
    Send({'E', uint8_t(payload.size() >> 8), uint8_t(payload.size())});
    Send(payload);
    SetTimeouts(0, 0, 5000);
    std::vector<uint8_t> back(payload.size());
    int32_t got = 0;
    while (got < int32_t(back.size())) {
        const int32_t n = Device.Read(back.data() + got, int32_t(back.size()) - got);
        if (n == 0) break;
        got += n;
    }
    ASSERT_EQ(got, int32_t(payload.size()));
    EXPECT_EQ(back, payload);
}

TEST_F(Win32Device, IntervalAllBitsWithZeroTotalsReturnsAtOnceWithWhatIsQueued)
{
    SetTimeouts(-1, 0, 0);
    char buffer[16];
    const auto start = TClock::now();
    EXPECT_EQ(Device.Read(buffer, sizeof buffer), 0);
    // At once: far below the 3 s the peer's bytes below take to come.
    EXPECT_LT(MsSince(start), 2000);

    AskBurst(5, 0);
    ASSERT_EQ(WaitQueued(5), 5);
    EXPECT_EQ(Device.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "@ABCD");
}

TEST_F(Win32Device, TotalTimeoutEndsAReadThatGetsTooFewBytes)
{
    // Constant 400 ms plus 10 ms per byte asked: 500 ms for 10 bytes.
    SetTimeouts(0, 10, 400);
    char buffer[10];
    auto start = TClock::now();
    EXPECT_EQ(Device.Read(buffer, sizeof buffer), 0);
    EXPECT_GE(MsSince(start), 480);

    AskBurst(4, 0);
    start = TClock::now();
    EXPECT_EQ(Device.Read(buffer, sizeof buffer), 4);
    EXPECT_GE(MsSince(start), 480);
    EXPECT_EQ(std::string(buffer, 4), "@ABC");
}

TEST_F(Win32Device, ReadIntervalEndsAReadWhenTheLineFallsSilent)
{
    // Three bytes, then silence for 1.5 s before three more: a 200 ms
    // interval ends the read after the first three, the total (none) never.
    SetTimeouts(200, 0, 0);
    AskBurst(3, 100, 1500);
    char buffer[6];
    const auto start = TClock::now();
    EXPECT_EQ(Device.Read(buffer, sizeof buffer), 3);
    EXPECT_LT(MsSince(start), 1500);
    EXPECT_EQ(std::string(buffer, 3), "@AB");
    SetTimeouts(0, 0, 5000);
    EXPECT_EQ(Device.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "`ab");
}

// A read that waits long for its bytes runs the wait hook between slices
// of its wait, so that a window keeps serving its messages; the bytes end
// it. A hook that raises cancels the pending read (waiting for the
// cancellation), and bytes that come later are still there for the next.
TEST_F(Win32Device, TheWaitHookRunsWhileAReadWaits)
{
    SetTimeouts(0, 0, 5000);
    int calls = 0;
    Device.SetWaitHook([&] { ++calls; });
    AskBurst(5, 600);
    char buffer[5];
    ASSERT_EQ(Device.Read(buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "@ABCD");
    // About one call per slice of the 600 ms; however slow the system, more than one.
    EXPECT_GE(calls, 2);

    Device.SetWaitHook([] { throw std::runtime_error("cancelled"); });
    AskBurst(3, 500);
    EXPECT_THROW(Device.Read(buffer, 3), std::runtime_error);
    Device.SetWaitHook(nullptr);
    ASSERT_EQ(Device.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "@AB");
}

// A write is complete when its bytes have left: the line can change its
// rate at once and the peer still gets every byte. Where the driver can
// tell (a real UART) its queue is empty by then.
TEST_F(Win32Device, AWriteHasLeftBeforeTheRateChanges)
{
    std::vector<uint8_t> payload(200);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i);
    Send({'E', 0, uint8_t(payload.size())});
    Send(payload);
    TLineSettings line;
    line.BitRate = 9600;
    Device.ApplyLine(line, dtrEnable, rtsDisable);
    EXPECT_EQ(Device.QueueWaits(), 0u) << "nothing was left queued to wait for";
    SetTimeouts(0, 0, 5000);
    std::vector<uint8_t> back(payload.size());
    ASSERT_EQ(Device.Read(back.data(), int32_t(back.size())), int32_t(back.size()));
    EXPECT_EQ(back, payload);
}

// The driver's time-outs are set only when the port's change: an exchange
// with the same time-outs costs no SetCommTimeouts.
TEST_F(Win32Device, TimeoutsReachTheDriverOnlyWhenTheyChange)
{
    SetTimeouts(0, 0, 5000);
    Send({'E', 0, 2});
    const uint64_t before = Device.Platform().TimeoutChanges;
    char buffer[2];
    for (int i = 0; i < 3; ++i) {
        Send({'o', 'k'});
        ASSERT_EQ(Device.Read(buffer, 2), 2);
        if (i < 2) Send({'E', 0, 2});
    }
    EXPECT_EQ(Device.Platform().TimeoutChanges, before);
    SetTimeouts(0, 0, 4000);
    Send({'E', 0, 1, 'x'});
    ASSERT_EQ(Device.Read(buffer, 1), 1);
    EXPECT_EQ(Device.Platform().TimeoutChanges, before + 1);
}

// A port whose owner handles no received-data event: the watch leaves
// arrivals out of the device's event mask, holding and releasing them makes
// no driver call, and bytes arriving do not wake it.
TEST_F(Win32Device, AWatchWithoutReceivedDataSleepsThroughArrivals)
{
    HANDLE handle = Device.Platform().Handle;
    DWORD mask = 0;
    {
        TDeviceWatch all(Device);
        ASSERT_TRUE(GetCommMask(handle, &mask));
        EXPECT_EQ(mask, DWORD(EV_RXCHAR | EV_ERR | EV_BREAK));
    }
    TDeviceWatch watch(Device, false);
    ASSERT_TRUE(GetCommMask(handle, &mask));
    EXPECT_EQ(mask, DWORD(EV_ERR | EV_BREAK));
    watch.HoldReceived(true);
    watch.HoldReceived(false);
    ASSERT_TRUE(GetCommMask(handle, &mask));
    EXPECT_EQ(mask, DWORD(EV_ERR | EV_BREAK));

    TDeviceWatch::TResult result = TDeviceWatch::wrEvents;
    TDeviceWatch::TEvents events;
    std::thread waiter([&] { result = watch.Wait(events); });
    AskBurst(4, 0);
    EXPECT_EQ(WaitQueued(4), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    watch.Stop();
    waiter.join();
    EXPECT_EQ(result, TDeviceWatch::wrStopped) << "the arrival woke the watch";
    EXPECT_FALSE(events.Received);
    // Wine ends a wait on line errors alone at once on a pseudo-terminal:
    // the device still answers, so it is not reported gone.
    EXPECT_FALSE(events.Gone);
}

TEST_F(Win32Device, InputPurgeDropsReceivedBytes)
{
    AskBurst(8, 0);
    ASSERT_EQ(WaitQueued(8), 8);
    Device.Purge(true, false);
    EXPECT_EQ(Device.QueuedInput(), 0);
    SetTimeouts(-1, 0, 0);
    char buffer[8];
    EXPECT_EQ(Device.Read(buffer, sizeof buffer), 0);
}

TEST_F(Win32Device, OutputPurgeLeavesBytesThatHaveAlreadyLeft)
{
    // The driver holds nothing unsent once the write has completed: the
    // echo request written before the purge still reaches the peer whole.
    const std::vector<uint8_t> payload = {'x', 'y', 'z'};
    Send({'E', 0, 3});
    Send(payload);
    Device.Purge(false, true);
    Device.AbortTransfers();
    SetTimeouts(0, 0, 5000);
    char buffer[3];
    ASSERT_EQ(Device.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
}

TEST_F(Win32Device, NoLineErrorsOnAQuietLine)
{
    AskBurst(2, 0);
    ASSERT_EQ(WaitQueued(2), 2);
    EXPECT_EQ(Device.LineErrors(), 0);
    EXPECT_EQ(Device.QueuedInput(), 2); // the status query takes no bytes
}

TEST_F(Win32Device, SecondOpenIsRefusedAsInUse)
{
    TSerialDevice second;
    try {
        second.Open(PortDevicePath(TestPort));
    } catch (const EComPort& error) {
        EXPECT_EQ(error.MessageCode(), CError_OpenFailed);
        EXPECT_EQ(error.SystemErrorCode(), 5); // ERROR_ACCESS_DENIED
        EXPECT_NE(std::string(error.what()).find("(win error code: 5)"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("in use by another program"), std::string::npos) << error.what();
        return;
    }
    second.Close();
    if (UnderWine) GTEST_SKIP() << "Wine opens a serial port twice in one process: needs a real PC";
    FAIL() << "a second open of " << TestPort << " was not refused";
}

TEST_F(Win32Device, MissingPortIsReportedWithItsSystemError)
{
    TSerialDevice missing;
    try {
        missing.Open(PortDevicePath("COM199"));
        FAIL() << "COM199 opened";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.MessageCode(), CError_OpenFailed);
        EXPECT_EQ(error.SystemErrorCode(), 2); // ERROR_FILE_NOT_FOUND
        EXPECT_EQ(std::string(error.what()).rfind("Unable to open com port (win error code: 2)\n", 0), 0u)
            << error.what();
    }
}

TEST(Win32PortList, ListsTheRegistryPortsSorted)
{
    std::vector<std::string> ports;
    ASSERT_NO_THROW(ListSerialPorts(ports));
    EXPECT_NE(std::find(ports.begin(), ports.end(), TestPort), ports.end());
    std::vector<std::string> sorted = ports;
    SortPortNames(sorted);
    EXPECT_EQ(ports, sorted);
    EXPECT_FALSE(SerialPortFacts(TestPort).LinkTarget.empty());
}

TEST(Win32PortOrder, SortsAsTextIgnoringCase)
{
    std::vector<std::string> names = {"COM3", "com10", "COM1", "CNCB0", "COM2"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"CNCB0", "COM1", "com10", "COM2", "COM3"}));
}

// The port object over the backend, with its event thread running: data
// flows through the reads whatever the event thread sees.
TEST(Win32ComPort, TransfersWithTheEventThreadRunning)
{
    TComPort port;
    port.SetPort(TestPort);
    port.SetBaudRate(br115200);
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalConstant(5000);
    ASSERT_NO_THROW(port.OpenPort());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.DeviceBaudRate(), 115200);
    port.DiscardBuffers(true, true);
    const char request[] = {'E', 0, 4, 'p', 'i', 'n', 'g'};
    ASSERT_EQ(port.WriteBytes(request, sizeof request), int32_t(sizeof request));
    char back[4];
    int32_t got = 0;
    while (got < 4) {
        const int32_t n = port.ReadBytes(back + got, 4 - got);
        if (n == 0) break;
        got += n;
    }
    ASSERT_EQ(got, 4);
    EXPECT_EQ(std::string(back, 4), "ping");
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
}

// The protocol's pauses keep the event loop running. Each must end at its
// own time, not at the next event that happens to come (here a timer a
// second away, as the keep-alive's): under Wine a precise Qt timer did not
// wake the loop, and every pause of 100 ms lasted until that second.
TEST(Win32Pause, APauseEndsAtItsOwnTimeNotAtTheNextEvent)
{
    TMorvexComPort port;
    for (int pause = 0; pause < 3; ++pause) {
        bool secondPassed = false;
        QTimer second;
        second.setSingleShot(true);
        QObject::connect(&second, &QTimer::timeout, [&secondPassed] { secondPassed = true; });
        second.start(1000);
        const TClock::time_point start = TClock::now();
        port.WaitMs(100);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
        EXPECT_GE(waited, 100);
        EXPECT_FALSE(secondPassed) << "pause " << pause << " lasted " << waited << " ms";
    }
}

// Last: the peer hangs up (and comes back on a fresh line after 0.5 s).
TEST(Win32HangUp, ClosingTheFarEndFailsTheTransfersWithTheSystemError)
{
    TSerialDevice device;
    device.Open(PortDevicePath(TestPort));
    TTimeoutValues values;
    values.ReadInterval = 0;
    values.ReadTotalConstant = 3000;
    device.ApplyTimeouts(values);
    const char hangUp = 'H';
    char buffer[4];
    bool failed = false;
    std::string message;
    // A read of a hung-up line fails; a write too. Either is the report,
    // even the write of the command itself: it completes only once its
    // byte has left, and by then the far end may have gone.
    try {
        EXPECT_EQ(device.Write(&hangUp, 1), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int32_t n = device.Read(buffer, sizeof buffer);
        const int32_t w = device.Write("ab", 2);
        message = "read " + std::to_string(n) + ", write " + std::to_string(w);
    } catch (const EComPort& error) {
        failed = true;
        message = error.what();
        EXPECT_TRUE(error.MessageCode() == CError_ReadFailed || error.MessageCode() == CError_WriteFailed);
        EXPECT_NE(error.SystemErrorCode(), -1);
        EXPECT_NE(message.find("(win error code: "), std::string::npos);
    }
    EXPECT_TRUE(failed) << message;
    std::printf("hang-up reported as: %s\n", message.c_str());
    device.Close();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--port=", 7) == 0) TestPort = argv[i] + 7;
        if (std::strcmp(argv[i], "--wine") == 0) UnderWine = true;
    }
    return RUN_ALL_TESTS();
}
