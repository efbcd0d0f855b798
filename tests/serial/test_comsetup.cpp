// Text forms of the settings, the port-name mapping and the port list over
// a sysfs tree built by the test.
#include "serial/comsetup.h"

#include <QTemporaryDir>
#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TTextCase {
    const char* Text;
    int Value;
};

class BaudRateText : public ::testing::TestWithParam<TTextCase> {};
TEST_P(BaudRateText, FormsRoundTrip)
{
    EXPECT_EQ(BaudRateToText(TBaudRate(GetParam().Value)), GetParam().Text);
    EXPECT_EQ(TextToBaudRate(GetParam().Text), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(All, BaudRateText,
                         ::testing::Values(TTextCase{"Custom", brCustom}, TTextCase{"110", br110},
                                           TTextCase{"300", br300}, TTextCase{"600", br600}, TTextCase{"1200", br1200},
                                           TTextCase{"2400", br2400}, TTextCase{"4800", br4800},
                                           TTextCase{"9600", br9600}, TTextCase{"14400", br14400},
                                           TTextCase{"19200", br19200}, TTextCase{"38400", br38400},
                                           TTextCase{"56000", br56000}, TTextCase{"57600", br57600},
                                           TTextCase{"115200", br115200}, TTextCase{"128000", br128000},
                                           TTextCase{"256000", br256000}));

class OtherTexts : public ::testing::TestWithParam<TTextCase> {};
TEST_P(OtherTexts, ParityFormsRoundTrip)
{
    EXPECT_EQ(ParityToText(TParityBits(GetParam().Value)), GetParam().Text);
    EXPECT_EQ(TextToParity(GetParam().Text), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(Parity, OtherTexts,
                         ::testing::Values(TTextCase{"None", prNone}, TTextCase{"Odd", prOdd},
                                           TTextCase{"Even", prEven}, TTextCase{"Mark", prMark},
                                           TTextCase{"Space", prSpace}));

TEST(SettingTexts, SmallEnumerationsRoundTrip)
{
    const char* data[] = {"5", "6", "7", "8"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(DataBitsToText(TDataBits(i)), data[i]);
        EXPECT_EQ(TextToDataBits(data[i]), i);
    }
    const char* stop[] = {"1", "1.5", "2"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(StopBitsToText(TStopBits(i)), stop[i]);
        EXPECT_EQ(TextToStopBits(stop[i]), i);
    }
    const char* flow[] = {"Hardware", "Software", "None", "Custom"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(FlowControlToText(TFlowControl(i)), flow[i]);
        EXPECT_EQ(TextToFlowControl(flow[i]), i);
    }
}

TEST(SettingTexts, ParsingIgnoresCaseButNothingElse)
{
    EXPECT_EQ(TextToBaudRate("custom"), brCustom);
    EXPECT_EQ(TextToBaudRate("19200 "), br9600); // no trimming: the default
    EXPECT_EQ(TextToBaudRate(""), br9600);
    EXPECT_EQ(TextToStopBits("1.5"), sbOne5StopBits);
    EXPECT_EQ(TextToStopBits("1,5"), sbOneStopBit);
    EXPECT_EQ(TextToParity("none"), prNone);
    EXPECT_EQ(TextToParity("sPaCe"), prSpace);
    EXPECT_EQ(TextToParity(""), prNone);
    EXPECT_EQ(TextToFlowControl("none"), fcNone);
    EXPECT_EQ(TextToFlowControl("HARDWARE"), fcHardware);
    EXPECT_EQ(TextToFlowControl(""), fcCustom);
    EXPECT_EQ(TextToDataBits("9"), dbEight);
}

TEST(PortNames, MapToDevices)
{
    EXPECT_EQ(PortDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(PortDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath("pts/3"), "/dev/pts/3");
    EXPECT_EQ(PortDevicePath("/tmp/morvex-ports/unit"), "/tmp/morvex-ports/unit");
    EXPECT_EQ(PortDevicePath("COM0"), "/dev/COM0"); // there is no COM0: opening it fails
    EXPECT_EQ(PortDevicePath("COMX"), "/dev/COMX");
    EXPECT_EQ(PortDevicePath(""), "");
}

// A fake /sys/class/tty and a virtual-port directory in a temporary folder.
class PortListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Temp.isValid());
        Root = Temp.path().toStdString() + "/tty";
        Links = Temp.path().toStdString() + "/ports";
        mkdir(Root.c_str(), 0755);
        SetSerialSysfsRoot(Root);
        SetVirtualPortDir(Links);
    }
    void TearDown() override
    {
        SetSerialSysfsRoot("");
        SetVirtualPortDir("");
    }
    // A tty entry; with a driver it has a device behind it.
    void AddTty(const std::string& name, const std::string& driver, int type = -1)
    {
        const std::string entry = Root + "/" + name;
        mkdir(entry.c_str(), 0755);
        if (!driver.empty()) {
            mkdir((entry + "/device").c_str(), 0755);
            ASSERT_EQ(symlink(("../../../bus/drivers/" + driver).c_str(), (entry + "/device/driver").c_str()), 0);
        }
        if (type >= 0) std::ofstream(entry + "/type") << type << "\n";
    }
    QTemporaryDir Temp;
    std::string Root, Links;
};

TEST_F(PortListTest, ListsRealSerialDevicesSortedAsText)
{
    AddTty("ttyS0", "serial8250", 4); // a UART that exists
    AddTty("ttyS1", "serial8250", 0); // a placeholder without a UART
    AddTty("ttyS9", "serial", 4);     // found by firmware tables
    AddTty("ttyS3", "serial8250", 0);
    AddTty("ttyUSB0", "ftdi_sio");
    AddTty("ttyACM0", "cdc_acm");
    AddTty("tty1", ""); // a console: no device
    AddTty("ptmx", "");
    std::vector<std::string> list{"stale entry"};
    ListSerialPorts(list);
    EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM10", "ttyACM0", "ttyUSB0"}));
}

TEST_F(PortListTest, VirtualPortsAreListedByAbsolutePath)
{
    AddTty("ttyS1", "serial8250", 4);
    mkdir(Links.c_str(), 0755);
    ASSERT_EQ(symlink("/dev/pts/7", (Links + "/unit-b").c_str()), 0);
    ASSERT_EQ(symlink("/dev/pts/8", (Links + "/Unit-A").c_str()), 0);
    std::vector<std::string> list;
    ListSerialPorts(list);
    EXPECT_EQ(list, (std::vector<std::string>{Links + "/Unit-A", Links + "/unit-b", "COM2"}));
}

TEST_F(PortListTest, NamesSortIgnoringCase)
{
    AddTty("ttyS1", "serial8250", 4);
    AddTty("ttyS9", "serial8250", 4);
    AddTty("ttyS0", "serial8250", 4);
    AddTty("ttyusb1", "x");
    AddTty("ttyUSB0", "x");
    std::vector<std::string> list;
    ListSerialPorts(list);
    EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM10", "COM2", "ttyUSB0", "ttyusb1"}));
}

TEST_F(PortListTest, AnUnreadableDeviceListIsARegistryError)
{
    const std::string file = Temp.path().toStdString() + "/not-a-directory";
    std::ofstream(file) << "x";
    SetSerialSysfsRoot(file);
    std::vector<std::string> list{"kept"};
    try {
        ListSerialPorts(list);
        FAIL();
    } catch (const EComPort& failure) {
        EXPECT_EQ(failure.MessageCode(), 23);
        EXPECT_EQ(failure.SystemErrorCode(), ENOTDIR);
        EXPECT_EQ(failure.Message(), "Registry error (win error code: " + std::to_string(ENOTDIR) + ")");
    }
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
    SetSerialSysfsRoot(Temp.path().toStdString() + "/missing");
    EXPECT_THROW(ListSerialPorts(list), EComPort);
}

TEST_F(PortListTest, TheVirtualPortDirectoryComesFromTheEnvironment)
{
    SetVirtualPortDir("");
    setenv("MORVEX_PORT_DIR", Links.c_str(), 1);
    EXPECT_EQ(VirtualPortDir(), Links);
    unsetenv("MORVEX_PORT_DIR");
    EXPECT_EQ(VirtualPortDir(), "/tmp/morvex-ports");
}

} // namespace
