// Ports named by their USB adapter: the name's forms, the choice among the
// ports whose facts are read from a sysfs tree laid out as the kernel does,
// and the program's answers to a name that is malformed or finds no port.
// Also the port list as JSON.
#include "clifixture.h"

#include "cli/portlist.h"
#include "cli/usbport.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

struct TNameCase {
    const char* Name;
    const char* Vendor; // nullptr: malformed
    const char* Product;
    const char* Serial;
    const char* Reason; // malformed: what the message says
};

// clang-format off
const TNameCase NameCases[] = {
    {"usb:0403:6001", "0403", "6001", "", nullptr},
    {"USB:403:60a1:A50285bi", "0403", "60a1", "A50285bi", nullptr},
    {"Usb:1A86:7523", "1a86", "7523", "", nullptr},
    {"usb:0403:6001:00:11:22", "0403", "6001", "00:11:22", nullptr}, // the serial keeps its colons
    {"usb:", nullptr, nullptr, nullptr, "the product id is missing"},
    {"usb:0403", nullptr, nullptr, nullptr, "the product id is missing"},
    {"usb:0403:", nullptr, nullptr, nullptr, "one to four hex digits"},
    {"usb::6001", nullptr, nullptr, nullptr, "one to four hex digits"},
    {"usb:12345:6001", nullptr, nullptr, nullptr, "one to four hex digits"},
    {"usb:04g3:6001", nullptr, nullptr, nullptr, "one to four hex digits"},
    {"usb:0403:6001:", nullptr, nullptr, nullptr, "the serial number after the last colon is empty"},
};
// clang-format on

class UsbPortName : public ::testing::TestWithParam<TNameCase> {};

TEST_P(UsbPortName, IsReadInAnyCaseOrRefusedWithItsReason)
{
    const TNameCase& c = GetParam();
    EXPECT_TRUE(IsUsbPortName(c.Name));
    std::string error;
    const std::optional<TUsbAdapterName> adapter = ParseUsbPortName(c.Name, error);
    if (!c.Vendor) {
        EXPECT_FALSE(adapter);
        EXPECT_NE(error.find(std::string("\"") + c.Name + "\""), std::string::npos) << error;
        EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(adapter) << error;
    EXPECT_EQ(adapter->VendorId, c.Vendor);
    EXPECT_EQ(adapter->ProductId, c.Product);
    EXPECT_EQ(adapter->Serial, c.Serial);
}

INSTANTIATE_TEST_SUITE_P(Forms, UsbPortName, ::testing::ValuesIn(NameCases));

// A bench of two FTDI adapters of one type, a CH340 without a serial
// number, and an on-board UART; the first FTDI is listed twice, by its
// kernel name and by its stable name, as the Port list has it.
class UsbPortChoice : public PortFacts {
protected:
    void SetUp() override
    {
        PortFacts::SetUp();
        AddAdapter("ttyUSB0", "1-1", "0403", "6001", "A50285BI");
        AddAdapter("ttyUSB1", "1-2", "0403", "6001", "FT9ZQ3");
        AddAdapter("ttyUSB2", "1-3", "1a86", "7523", "");
        Device("ttyS0");
        std::filesystem::create_directories(Root() + "/dev/serial/by-id");
        std::filesystem::create_symlink(Root() + "/dev/ttyUSB0", Root() + "/dev/serial/by-id/usb-FTDI-A50285BI");
        for (const std::string port : {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI-A50285BI",
                                       "/dev/ttyUSB1", "/dev/ttyUSB2"})
            Candidates.push_back({Root() + port, SerialPortFacts(Root() + port, Sources())});
    }

    void AddAdapter(const std::string& tty, const std::string& usbPort, const std::string& vendor,
                    const std::string& product, const std::string& serial)
    {
        const std::string usb = "/sys/devices/pci0000:00/usb1/" + usbPort;
        Write(usb + "/idVendor", vendor);
        Write(usb + "/idProduct", product);
        if (!serial.empty()) Write(usb + "/serial", serial);
        Link("/sys/class/tty/" + tty + "/device", usb + "/" + usbPort + ":1.0/" + tty);
        Device(tty);
    }

    TPortChoice Choose(const std::string& name) const
    {
        std::string error;
        const std::optional<TUsbAdapterName> adapter = ParseUsbPortName(name, error);
        EXPECT_TRUE(adapter) << error;
        return adapter ? ChooseUsbPort(name, *adapter, Candidates) : TPortChoice{};
    }

    std::vector<TPortCandidate> Candidates;
};

} // namespace

TEST_F(UsbPortChoice, OneFittingAdapterIsItsPortByIdsAndSerialInAnyCase)
{
    EXPECT_EQ(Choose("usb:0403:6001:a50285bi").Port, Root() + "/dev/ttyUSB0");
    EXPECT_EQ(Choose("USB:403:6001:FT9ZQ3").Port, Root() + "/dev/ttyUSB1");
    EXPECT_EQ(Choose("usb:1A86:7523").Port, Root() + "/dev/ttyUSB2");
    EXPECT_EQ(Choose("usb:1a86:7523").Error, "");
}

TEST_F(UsbPortChoice, SeveralFittingAdaptersAreAnErrorListingThemOnce)
{
    const TPortChoice choice = Choose("usb:0403:6001");
    EXPECT_EQ(choice.Port, "");
    EXPECT_EQ(Lines(choice.Error),
              (std::vector<std::string>{
                  "Several serial ports belong to the USB adapter usb:0403:6001; name one by its serial number or "
                  "its port name:",
                  "  " + Root() + "/dev/ttyUSB0  usb:0403:6001:A50285BI",
                  "  " + Root() + "/dev/ttyUSB1  usb:0403:6001:FT9ZQ3"}));
}

TEST_F(UsbPortChoice, NoFittingAdapterIsAnErrorListingTheAdaptersThereAre)
{
    for (const std::string name : {"usb:0403:6015", "usb:0403:6001:A50285BJ"}) {
        const TPortChoice choice = Choose(name);
        EXPECT_EQ(choice.Port, "");
        EXPECT_EQ(Lines(choice.Error),
                  (std::vector<std::string>{"No serial port belongs to the USB adapter " + name +
                                                ". The USB serial adapters are:",
                                            "  " + Root() + "/dev/ttyUSB0  usb:0403:6001:A50285BI",
                                            "  " + Root() + "/dev/ttyUSB1  usb:0403:6001:FT9ZQ3",
                                            "  " + Root() + "/dev/ttyUSB2  usb:1a86:7523"}));
    }
    Candidates.erase(Candidates.begin() + 1, Candidates.end()); // the UART alone
    EXPECT_EQ(Choose("usb:0403:6001").Error,
              "No serial port belongs to the USB adapter usb:0403:6001: no USB serial adapter is plugged in.");
}

TEST_F(UsbPortChoice, TheJsonListHasEveryFactUnderItsKey)
{
    const QJsonArray list = PortListJson(Candidates);
    ASSERT_EQ(list.size(), 5);
    const QJsonObject uart = list[0].toObject();
    EXPECT_EQ(uart.value("port").toString().toStdString(), Root() + "/dev/ttyS0");
    EXPECT_TRUE(uart.value("usb").isNull());
    EXPECT_TRUE(uart.value("byId").isNull());
    const QJsonObject ftdi = list[1].toObject();
    EXPECT_EQ(ftdi.keys(), (QStringList{"byId", "description", "device", "driver", "latencyTimerMs", "linkTarget",
                                        "port", "usb"}));
    EXPECT_EQ(ftdi.value("byId").toString().toStdString(), Root() + "/dev/serial/by-id/usb-FTDI-A50285BI");
    const QJsonObject usb = ftdi.value("usb").toObject();
    EXPECT_EQ(usb.value("vendorId").toString(), "0403");
    EXPECT_EQ(usb.value("productId").toString(), "6001");
    EXPECT_EQ(usb.value("serialNumber").toString(), "A50285BI");
    EXPECT_TRUE(usb.value("manufacturer").isNull());
    EXPECT_TRUE(list[4].toObject().value("usb").toObject().value("serialNumber").isNull());
}

// The program itself: a malformed name is a usage error before any port is
// touched; a name no adapter here fits is a port error with its record.
TEST_F(CliTest, AnAdapterNameThatIsMalformedOrFitsNoPortEndsBeforeAnyUnit)
{
    const std::string log = Scratch() + "/usb.jsonl";
    const TCliResult malformed = RunCli({"--port", "usb:0403:60x1", "--log", log});
    EXPECT_EQ(malformed.ExitCode, ecUsage);
    EXPECT_NE(malformed.Err.find("bad adapter name \"usb:0403:60x1\" for --port"), std::string::npos)
        << malformed.Err;
    EXPECT_EQ(ReadText(log), "");

    // No adapter has the vendor id 0xFFFF, which the USB body never assigns.
    const TCliResult missing = RunCli({"--port", "usb:ffff:0001:NOSUCH", "--log", log});
    EXPECT_EQ(missing.ExitCode, ecPortError) << missing.Err;
    EXPECT_EQ(Lines(missing.Err).front().rfind("No serial port belongs to the USB adapter usb:ffff:0001:NOSUCH", 0),
              0u)
        << missing.Err;
    const std::vector<QJsonObject> records = LogRecords(log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].value("failure").toString(), "port-error");
    EXPECT_EQ(records[0].value("exitCode").toInt(), ecPortError);
    EXPECT_EQ(records[0].value("port").toString(), "usb:ffff:0001:NOSUCH");
    EXPECT_EQ(records[0].value("device").toString(), "");
    EXPECT_TRUE(records[0].value("steps").toArray().isEmpty());
}

// The JSON list names the same ports as the plain one, in the same order.
TEST_F(CliTest, TheJsonPortListIsThePlainListForScripts)
{
    const TCliResult plain = RunCli({"--list-ports"});
    const TCliResult json = RunCli({"--list-ports", "--json"});
    ASSERT_EQ(plain.ExitCode, ecSuccess) << plain.Err;
    ASSERT_EQ(json.ExitCode, ecSuccess) << json.Err;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json.Out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.Out;
    ASSERT_TRUE(document.isArray());
    std::vector<std::string> ports;
    for (const std::string& line : Lines(plain.Out)) ports.push_back(line.substr(0, line.find("  ")));
    std::vector<std::string> jsonPorts;
    for (const QJsonValue& entry : document.array()) jsonPorts.push_back(entry.toObject().value("port").toString().toStdString());
    EXPECT_EQ(jsonPorts, ports);
    EXPECT_EQ(RunCli({"--json"}).ExitCode, ecUsage);
}
