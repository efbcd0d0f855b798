// What the program does without programming: --info, --list-ports (with the
// facts read from a sysfs tree), --help and --version, and the command lines
// it refuses before it goes near a port.
#include "clifixture.h"

#include "cli/exitcodes.h"
#include "cli/portlist.h"
#include "image/storedimage.h"
#include "serial/portinfo.h"
#include "target/unitmodels.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
class CliCommandLine : public CliTest {};

TEST_F(CliCommandLine, InfoDescribesTheEmbeddedImageWithoutItsBytesOrPassPhrase)
{
    const TCliResult result = RunCli({"--info"});
    EXPECT_EQ(result.ExitCode, ecSuccess);
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
    EXPECT_EQ(result.ExitCode, ecSuccess);
    for (const char* text : {"--port <NAME>", "--baud <RATE>", "--data-bits <N>", "--stop-bits <N>",
                             "--parity <PARITY>", "--yes", "--quiet", "--log <FILE>", "--info", "--list-ports",
                             "--repeat", "--count <N>", "port COM1, 9600 bit/s, 8 data bits, 1 stop bit, parity None"})
        EXPECT_NE(result.Out.find(text), std::string::npos) << text;
    // The feed is between a gang and its children, not for the operator.
    EXPECT_EQ(result.Out.find("progress-feed"), std::string::npos);
    for (const TExitCodeMeaning& code : ExitCodeMeanings()) {
        char entry[160];
        std::snprintf(entry, sizeof entry, "\n  %2d  %s\n", int(code.Code), code.Meaning);
        EXPECT_NE(result.Out.find(entry), std::string::npos) << entry;
    }
    const TCliResult version = RunCli({"--version"});
    EXPECT_EQ(version.ExitCode, ecSuccess);
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
    EXPECT_EQ(result.ExitCode, ecUsage);
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
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Err;
    const std::vector<std::string> lines = Lines(result.Out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), options.LinkPath + " -> " + unit.PortPath()), lines.end())
        << result.Out;
    // Listing opens nothing: the unit heard of no host.
    EXPECT_TRUE(UnitSawNothing(unit));
}

TEST_F(CliCommandLine, TheVirtualPortFolderOffersTerminalsOnlyAndNeverFailsTheList)
{
    const std::string folder = Scratch() + "/ports";
    TUnitSimOptions options;
    options.LinkPath = folder + "/bench-unit-1";
    fs::create_directories(folder + "/a-folder");
    std::ofstream(folder + "/a-file") << "not a port\n";
    ASSERT_EQ(mkfifo((folder + "/a-fifo").c_str(), 0600), 0);
    TUnitSim& unit = StartUnit(options);
    const TCliResult listed = RunCli({"--list-ports"}, {"MORVEX_PORT_DIR=" + folder});
    EXPECT_EQ(listed.ExitCode, ecSuccess) << listed.Err;
    std::vector<std::string> virtualPorts;
    for (const std::string& line : Lines(listed.Out))
        if (line.rfind(folder, 0) == 0) virtualPorts.push_back(line);
    EXPECT_EQ(virtualPorts, (std::vector<std::string>{options.LinkPath + " -> " + unit.PortPath()}));

    // A folder named with a trailing slash, or the root, gives paths
    // without a doubled slash; the root holds no terminal.
    for (const std::string& named : {folder + "/", std::string("/")}) {
        const TCliResult result = RunCli({"--list-ports"}, {"MORVEX_PORT_DIR=" + named});
        EXPECT_EQ(result.ExitCode, ecSuccess) << named << result.Err;
        EXPECT_EQ(result.Out.find("//"), std::string::npos) << named << result.Out;
        EXPECT_EQ(result.Out.find("/bin"), std::string::npos) << named << result.Out;
    }
    // A file in place of the folder costs the virtual ports and a warning only.
    const TCliResult file = RunCli({"--list-ports"}, {"MORVEX_PORT_DIR=" + folder + "/a-file"});
    EXPECT_EQ(file.ExitCode, ecSuccess) << file.Err;
    EXPECT_NE(file.Err.find("Virtual ports in " + folder + "/a-file are not offered: it is not a folder"),
              std::string::npos)
        << file.Err;
}

// What only prints must say so when its output cannot be written: a script
// reading --list-ports from a full disk must not take nothing for the list.
class CliOutputError : public CliTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliOutputError, EndsWithANonZeroExitAndSaysWhy)
{
    TChildSetup full;
    full.OutputFile = "/dev/full";
    const TCliResult result = RunCli({GetParam()}, {}, full);
    EXPECT_EQ(result.ExitCode, ecInternal);
    EXPECT_EQ(Lines(result.Err).back(), "morvex-flash-cli: cannot write the output: No space left on device");
}

INSTANTIATE_TEST_SUITE_P(Actions, CliOutputError, ::testing::Values("--info", "--list-ports", "--help", "--version"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param + 2) == "list-ports" ? "ListPorts"
                                                                                : std::string(info.param + 2);
                         });

TEST_F(CliCommandLine, StartedWithItsStandardStreamsClosedItFillsThemAndProgramsTheUnit)
{
    // Its first descriptors would otherwise become the interrupt pipe, and
    // every line on standard error a Ctrl-C. The unit answers the speed
    // change late, so the descriptors can be looked at while it connects.
    TUnitSimOptions options;
    options.Faults.push_back(ParseFault("slow@speed-reply=300"));
    TUnitSim& unit = StartUnit(options);
    TChildSetup closed;
    closed.StandardStreamsClosed = true;
    const std::string log = Scratch() + "/runs.jsonl";
    TCliChild child(RunArguments(unit, {"--log", log}), {}, closed);
    ASSERT_TRUE(unit.WaitForFrame("speed-change request", 30000));
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        std::error_code error;
        const std::string path = "/proc/" + std::to_string(child.Pid()) + "/fd/" + std::to_string(descriptor);
        EXPECT_EQ(fs::read_symlink(path, error).string(), "/dev/null") << path << " " << error.message();
    }
    EXPECT_EQ(child.Wait().ExitCode, ecSuccess);
    EXPECT_TRUE(FlashHoldsTheImage(unit));
    EXPECT_NE(ReadText(log).find("\"result\":\"success\""), std::string::npos) << ReadText(log);
}


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
