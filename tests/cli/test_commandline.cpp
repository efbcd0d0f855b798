// What the program does without programming: --info, --list-ports (with the
// facts read from a sysfs tree), --help and --version, and the command lines
// it refuses before it goes near a port.
#include "clifixture.h"

#include "cli/portlist.h"
#include "image/storedimage.h"
#include "serial/portinfo.h"
#include "target/unitmodels.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
class CliCommandLine : public CliTest {};

TEST_F(CliCommandLine, InfoDescribesTheEmbeddedImageWithoutItsBytesOrPassPhrase)
{
    const TCliResult result = RunCli({"--info"});
    EXPECT_EQ(result.ExitCode, kExitSuccess);
    EXPECT_EQ(result.Err, "");
    EXPECT_EQ(Lines(result.Out),
              (std::vector<std::string>{"Image:     " + GetImageName(StoredImage),
                                        "Unit type: " + std::to_string(ImageUnitType()),
                                        "Model:     " + std::string(UnitModelNames.at(ImageUnitType())),
                                        "Size:      " + std::to_string(PlainImage().size()) + " bytes"}));
    EXPECT_EQ(result.Out.find(GetPassPhrase()), std::string::npos);
    EXPECT_EQ(result.Out.find(MORVEX_PASS_PHRASE_HEX), std::string::npos);
}

TEST_F(CliCommandLine, HelpDocumentsTheOptionsAndEveryExitCode)
{
    const TCliResult result = RunCli({"--help"});
    EXPECT_EQ(result.ExitCode, kExitSuccess);
    for (const char* text : {"--port <NAME>", "--baud <RATE>", "--data-bits <N>", "--stop-bits <N>",
                             "--parity <PARITY>", "--yes", "--quiet", "--log <FILE>", "--info", "--list-ports",
                             "port COM1, 9600 bit/s, 8 data bits, 1 stop bit, parity None"})
        EXPECT_NE(result.Out.find(text), std::string::npos) << text;
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) {
        char entry[8];
        std::snprintf(entry, sizeof entry, "\n  %2d  ", code);
        EXPECT_NE(result.Out.find(entry), std::string::npos) << code;
    }
    const TCliResult version = RunCli({"--version"});
    EXPECT_EQ(version.ExitCode, kExitSuccess);
    EXPECT_EQ(version.Out, "morvex-flash-cli " MORVEX_VERSION "\n");
}

struct TBadCommandLine {
    const char* Name;
    std::vector<std::string> Arguments;
    std::string Error;
};

const std::string BitRates = "(one of 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, "
                             "115200, 128000, 256000)";

const std::string StopBitPairs = "(1 stop bit goes with any data bits, 1.5 with 5 only, 2 with 6, 7 or 8)";

const TBadCommandLine BadCommandLines[] = {
    {"UnknownBitRate", {"--baud", "9601"}, "bad value \"9601\" for --baud " + BitRates},
    // A text form of the settings, but not a bit rate of its own.
    {"CustomBitRate", {"--baud", "custom"}, "bad value \"custom\" for --baud " + BitRates},
    {"NineDataBits", {"--data-bits", "9"}, "bad value \"9\" for --data-bits (one of 5, 6, 7, 8)"},
    {"ThreeStopBits", {"--stop-bits", "3"}, "bad value \"3\" for --stop-bits (one of 1, 1.5, 2)"},
    {"UnknownParity",
     {"--parity", "sometimes"},
     "bad value \"sometimes\" for --parity (one of None, Odd, Even, Mark, Space)"},
    // Pairs that pass each option's own check but no serial driver.
    {"OneAndAHalfStopBitsWithEightDataBits",
     {"--stop-bits", "1.5"},
     "--stop-bits 1.5 does not go with --data-bits 8 " + StopBitPairs},
    {"TwoStopBitsWithFiveDataBits",
     {"--data-bits", "5", "--stop-bits", "2"},
     "--stop-bits 2 does not go with --data-bits 5 " + StopBitPairs},
    {"UnknownOption", {"--frobnicate"}, "Unknown option 'frobnicate'."},
    {"MissingValue", {"--baud"}, "Missing value after '--baud'."},
    {"ImageFile",
     {"firmware.bin"},
     "unexpected argument \"firmware.bin\" (the image is the one built into this program)"},
    {"TwoActions", {"--info", "--list-ports"}, "--info and --list-ports exclude each other"},
    {"EmptyLog", {"--log", ""}, "--log needs a file name"},
};

void PrintTo(const TBadCommandLine& c, std::ostream* out) { *out << c.Name; }

class CliBadCommandLine : public CliTest, public ::testing::WithParamInterface<TBadCommandLine> {};

TEST_P(CliBadCommandLine, IsAUsageErrorThatNamesTheProblemAndLeavesTheUnitAlone)
{
    TUnitSim& unit = StartUnit();
    std::vector<std::string> arguments = GetParam().Arguments;
    arguments.insert(arguments.begin(), {"--yes", "--port", unit.PortPath()});
    const TCliResult result = RunCli(arguments);
    EXPECT_EQ(result.ExitCode, kExitUsage);
    const std::vector<std::string> lines = Lines(result.Err);
    ASSERT_EQ(lines.size(), 2u) << result.Err;
    EXPECT_EQ(lines[0], "morvex-flash-cli: " + GetParam().Error);
    EXPECT_EQ(lines[1], "Try 'morvex-flash-cli --help' for more information.");
    EXPECT_EQ(result.Out, "");
    EXPECT_TRUE(UnitSawNothing(unit));
}

INSTANTIATE_TEST_SUITE_P(Lines, CliBadCommandLine, ::testing::ValuesIn(BadCommandLines),
                         [](const ::testing::TestParamInfo<TBadCommandLine>& info) { return info.param.Name; });

TEST_F(CliCommandLine, ListPortsShowsAVirtualPortWithTheDeviceItLeadsTo)
{
    TUnitSimOptions options;
    options.LinkPath = Scratch() + "/ports/bench-unit-1";
    fs::create_directories(Scratch() + "/ports");
    TUnitSim& unit = StartUnit(options);
    const TCliResult result = RunCli({"--list-ports"}, {"MORVEX_PORT_DIR=" + Scratch() + "/ports"});
    EXPECT_EQ(result.ExitCode, kExitSuccess) << result.Err;
    const std::vector<std::string> lines = Lines(result.Out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), options.LinkPath + " -> " + unit.PortPath()), lines.end())
        << result.Out;
    // Listing opens nothing: the unit heard of no host.
    EXPECT_TRUE(UnitSawNothing(unit));
}

// A sysfs tree as the kernel lays it out, in the scratch folder.
class PortFacts : public CliTest {
protected:
    void Write(const std::string& path, const std::string& text)
    {
        fs::create_directories(fs::path(Root() + path).parent_path());
        std::ofstream(Root() + path) << text << "\n";
    }
    void Link(const std::string& path, const std::string& target)
    {
        fs::create_directories(fs::path(Root() + path).parent_path());
        fs::create_directories(Root() + target);
        fs::create_directory_symlink(Root() + target, Root() + path);
    }
    void Device(const std::string& name) { Write("/dev/" + name, ""); }
    std::string Root() const { return Scratch(); }
    TSerialFactSources Sources() const { return {Root() + "/sys/class/tty", Root() + "/dev/serial/by-id"}; }
};

TEST_F(PortFacts, AUsbAdapterIsDescribedByItsDriverIdsStringsAndStableName)
{
    const std::string usb = "/sys/devices/pci0000:00/usb1/1-2";
    Write(usb + "/idVendor", "0403");
    Write(usb + "/idProduct", "6001");
    Write(usb + "/manufacturer", "FTDI");
    Write(usb + "/product", "FT232R USB UART");
    Write(usb + "/serial", "A50285BI");
    Link(usb + "/1-2:1.0/ttyUSB7/driver", "/sys/bus/usb-serial/drivers/ftdi_sio");
    Link("/sys/class/tty/ttyUSB7/device", usb + "/1-2:1.0/ttyUSB7");
    Device("ttyUSB7");
    fs::create_directories(Root() + "/dev/serial/by-id");
    fs::create_symlink(Root() + "/dev/ttyUSB7", Root() + "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");
    Device("ttyUSB8"); // another adapter, without a by-id name

    const TSerialPortFacts facts = SerialPortFacts(Root() + "/dev/ttyUSB7", Sources());
    EXPECT_EQ(facts.Device, Root() + "/dev/ttyUSB7");
    EXPECT_EQ(facts.LinkTarget, "");
    EXPECT_EQ(facts.Driver, "ftdi_sio");
    EXPECT_EQ(facts.UsbVendorId, "0403");
    EXPECT_EQ(facts.UsbProductId, "6001");
    EXPECT_EQ(facts.Manufacturer, "FTDI");
    EXPECT_EQ(facts.Product, "FT232R USB UART");
    EXPECT_EQ(facts.SerialNumber, "A50285BI");
    EXPECT_EQ(facts.ById, Root() + "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");
    EXPECT_EQ(PortLine("ttyUSB7", facts), "ttyUSB7  " + Root() +
                                              "/dev/ttyUSB7  driver ftdi_sio  usb 0403:6001 \"FTDI\" \"FT232R USB "
                                              "UART\"  serial A50285BI  by-id " +
                                              facts.ById);
    EXPECT_EQ(SerialPortFacts(Root() + "/dev/ttyUSB8", Sources()).ById, "");
}

TEST_F(PortFacts, AnOnBoardUartBehindTheSerialCoresPortDevicesIsDescribedByItsOwnDriver)
{
    // Newer kernels: tty -> serial-base port -> serial-base ctrl -> the UART.
    const std::string uart = "/sys/devices/pnp0/00:01";
    Link(uart + "/driver", "/sys/bus/pnp/drivers/serial");
    Link(uart + "/00:01:0/driver", "/sys/bus/serial-base/drivers/ctrl");
    Link(uart + "/00:01:0/00:01:0.0/driver", "/sys/bus/serial-base/drivers/port");
    Link("/sys/class/tty/ttyS9/device", uart + "/00:01:0/00:01:0.0");
    Device("ttyS9");
    const TSerialPortFacts facts = SerialPortFacts(Root() + "/dev/ttyS9", Sources());
    EXPECT_EQ(facts.Driver, "serial");
    EXPECT_EQ(facts.UsbVendorId, "");
    EXPECT_EQ(PortLine("ttyS9", facts), "ttyS9  " + Root() + "/dev/ttyS9  driver serial");
}

TEST_F(PortFacts, ALinkToAPseudoTerminalNamesWhereItLeads)
{
    TUnitSim& unit = StartUnit();
    fs::create_symlink(unit.PortPath(), Root() + "/unit");
    const TSerialPortFacts facts = SerialPortFacts(Root() + "/unit", Sources());
    EXPECT_EQ(facts.Device, Root() + "/unit");
    EXPECT_EQ(facts.LinkTarget, unit.PortPath());
    EXPECT_EQ(facts.Driver, "");
    EXPECT_EQ(facts.ById, "");
    // A name that leads nowhere has nothing but its device path.
    const TSerialPortFacts missing = SerialPortFacts("ttyNOSUCH9", Sources());
    EXPECT_EQ(missing.Device, "/dev/ttyNOSUCH9");
    EXPECT_EQ(missing.Driver, "");
}
}
