// The port-name mapping, and the port list over a sysfs tree and a
// virtual-port folder built by the test.
#include "ptypair.h"
#include "serial/portnames.h"
#include "serial/serialtypes.h"

#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
        ById = Temp.path().toStdString() + "/by-id";
        SetSerialSysfsRoot(Root);
        SetVirtualPortDir(Links);
        SetSerialByIdDir(ById);
    }
    void TearDown() override
    {
        SetSerialSysfsRoot("");
        SetVirtualPortDir("");
        SetSerialByIdDir("");
    }
    // A tty entry; with a driver it has a device behind it.
    void AddTty(const std::string& name, const std::string& driver, int type = -1)
    {
        AddTtyWithDriverLink(name, driver.empty() ? "" : "../../../bus/drivers/" + driver, type);
    }
    // The same with the device's driver link as the kernel makes it.
    void AddTtyWithDriverLink(const std::string& name, const std::string& link, int type)
    {
        const std::string entry = Root + "/" + name;
        mkdir(entry.c_str(), 0755);
        if (!link.empty()) {
            mkdir((entry + "/device").c_str(), 0755);
            ASSERT_EQ(symlink(link.c_str(), (entry + "/device/driver").c_str()), 0);
        }
        if (type >= 0) std::ofstream(entry + "/type") << type << "\n";
    }
    // A private virtual-port folder as the simulated unit's user makes it.
    void MakeLinkFolder(mode_t mode = 0700)
    {
        ASSERT_EQ(mkdir(Links.c_str(), mode), 0);
        ASSERT_EQ(chmod(Links.c_str(), mode), 0); // past the umask
    }
    void AddLink(const std::string& name, const std::string& target)
    {
        ASSERT_EQ(symlink(target.c_str(), (Links + "/" + name).c_str()), 0);
    }
    std::vector<std::string> Listed()
    {
        std::vector<std::string> list;
        ListSerialPorts(list);
        return list;
    }
    QTemporaryDir Temp;
    std::string Root, Links, ById;
};

// Another local user, for files that are not the tester's own.
uid_t OtherUser()
{
    const passwd* nobody = getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534;
}

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

// Each port of the 8250 driver that has no UART behind it reports the type
// "unknown" (0). Before 6.5 its device was bound to serial8250; since then
// each port is a serial-base port device with the driver "port", and the
// type is what tells the placeholders apart.
TEST_F(PortListTest, PlaceholderUartsAreLeftOutWhateverTheDriverIsCalled)
{
    // The older layout.
    AddTty("ttyS0", "serial8250", 4);
    AddTty("ttyS1", "serial8250", 0);
    // The layout of current kernels, with the link as the kernel makes it.
    const std::string serialBase = "../../../../../bus/serial-base/drivers/port";
    AddTtyWithDriverLink("ttyS2", serialBase, 4);
    for (int n = 3; n < 32; ++n) AddTtyWithDriverLink("ttyS" + std::to_string(n), serialBase, 0);
    // Another UART driver's unused port, and a USB adapter, which has no type.
    AddTty("ttyS40", "dw-apb-uart", 0);
    AddTty("ttyUSB0", "ftdi_sio");
    EXPECT_EQ(Listed(), (std::vector<std::string>{"COM1", "COM3", "ttyUSB0"}));
}

TEST_F(PortListTest, VirtualPortsAreListedByAbsolutePath)
{
    TPtyPair unitA, unitB;
    AddTty("ttyS1", "serial8250", 4);
    MakeLinkFolder();
    AddLink("unit-b", unitB.SlavePath());
    AddLink("Unit-A", unitA.SlavePath());
    EXPECT_EQ(Listed(), (std::vector<std::string>{Links + "/Unit-A", Links + "/unit-b", "COM2"}));
}

// /tmp is open to every user: a folder or an entry that someone else could
// have placed there, or could change, is not offered as a port.
TEST_F(PortListTest, AVirtualPortFolderOthersCanWriteToIsNotRead)
{
    TPtyPair unit;
    for (mode_t mode : {0777, 01777, 0770, 0702}) {
        SCOPED_TRACE(::testing::Message() << "folder mode " << std::oct << mode);
        rmdir(Links.c_str());
        MakeLinkFolder(mode);
        AddLink("unit", unit.SlavePath());
        EXPECT_TRUE(Listed().empty());
        unlink((Links + "/unit").c_str());
    }
    rmdir(Links.c_str());
    MakeLinkFolder(0755); // others may look, not write
    AddLink("unit", unit.SlavePath());
    EXPECT_EQ(Listed(), std::vector<std::string>{Links + "/unit"});
}

TEST_F(PortListTest, EntriesOthersCanChangeAreLeftOut)
{
    TPtyPair unit;
    MakeLinkFolder();
    AddLink("unit", unit.SlavePath());
    // Plain files as the targets: their owner and mode are the test's to set.
    const std::string writable = Temp.path().toStdString() + "/writable-by-all";
    std::ofstream(writable) << "x";
    ASSERT_EQ(chmod(writable.c_str(), 0666), 0);
    AddLink("to-a-writable-target", writable);
    const std::string groupWritable = Temp.path().toStdString() + "/writable-by-the-group";
    std::ofstream(groupWritable) << "x";
    ASSERT_EQ(chmod(groupWritable.c_str(), 0660), 0);
    AddLink("to-a-group-writable-target", groupWritable);
    AddLink("dangling", Temp.path().toStdString() + "/gone"); // nothing to check: not offered
    EXPECT_EQ(Listed(), std::vector<std::string>{Links + "/unit"});
}

TEST_F(PortListTest, FoldersAndEntriesOfAnotherUserAreLeftOut)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give files to another user; the writable-by-others cases cover the rest";
    TPtyPair unit, planted;
    MakeLinkFolder();
    AddLink("unit", unit.SlavePath());
    // A link that another user owns.
    AddLink("their-link", unit.SlavePath());
    ASSERT_EQ(lchown((Links + "/their-link").c_str(), OtherUser(), getegid()), 0);
    // A link of ours to another user's pseudo-terminal.
    ASSERT_EQ(chown(planted.SlavePath().c_str(), OtherUser(), getegid()), 0);
    AddLink("their-terminal", planted.SlavePath());
    EXPECT_EQ(Listed(), std::vector<std::string>{Links + "/unit"});
    // The whole folder given to another user.
    ASSERT_EQ(chown(Links.c_str(), OtherUser(), getegid()), 0);
    EXPECT_TRUE(Listed().empty());
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

// udev's /dev/serial/by-id links name a USB adapter the same whichever
// ttyUSBn it gets: each one that leads to a listed serial device is offered
// by its full path beside the device's name. A pseudo-terminal stands in
// for the adapter's device node; its sysfs entry is named like the node.
TEST_F(PortListTest, StableByIdNamesAreListedBesideTheDevices)
{
    TPtyPair adapter, unlisted;
    const std::string node = adapter.SlavePath().substr(adapter.SlavePath().rfind('/') + 1);
    AddTty("ttyS0", "serial8250", 4);
    AddTty(node, "ftdi_sio");
    EXPECT_EQ(Listed(), (std::vector<std::string>{node, "COM1"})); // no by-id folder: no adapter named there
    ASSERT_EQ(mkdir(ById.c_str(), 0755), 0);
    const std::string stable = ById + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ASSERT_EQ(symlink(adapter.SlavePath().c_str(), stable.c_str()), 0);
    // Left out: a link that leads nowhere, one to a plain file, and one to a
    // terminal that is not a serial device of the list.
    ASSERT_EQ(symlink((Temp.path().toStdString() + "/gone").c_str(), (ById + "/usb-unplugged-if00-port0").c_str()), 0);
    const std::string plain = Temp.path().toStdString() + "/plain";
    std::ofstream(plain) << "x";
    ASSERT_EQ(symlink(plain.c_str(), (ById + "/usb-plain-file").c_str()), 0);
    ASSERT_EQ(symlink(unlisted.SlavePath().c_str(), (ById + "/usb-not-a-listed-device").c_str()), 0);
    EXPECT_EQ(Listed(), (std::vector<std::string>{stable, node, "COM1"})); // as text: "/", digits, letters
    // The name is used as it is: it leads to the adapter's device.
    EXPECT_EQ(PortDevicePath(stable), stable);
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

// No folder is read unless the environment names one: a fixed name in
// /tmp would be anybody's to create.
TEST_F(PortListTest, TheVirtualPortFolderIsOnlyTheOneTheEnvironmentNames)
{
    TPtyPair unit;
    MakeLinkFolder();
    AddLink("unit", unit.SlavePath());
    SetVirtualPortDir("");
    const char* saved = std::getenv("MORVEX_PORT_DIR");
    const std::string restore = saved ? saved : "";
    setenv("MORVEX_PORT_DIR", Links.c_str(), 1);
    EXPECT_EQ(VirtualPortDir(), Links);
    EXPECT_EQ(Listed(), std::vector<std::string>{Links + "/unit"});
    unsetenv("MORVEX_PORT_DIR");
    EXPECT_EQ(VirtualPortDir(), "");
    EXPECT_TRUE(Listed().empty());
    if (saved) setenv("MORVEX_PORT_DIR", restore.c_str(), 1);
}

} // namespace
