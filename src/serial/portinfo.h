// What the system knows of a serial port beyond its name: the device it
// stands for, the driver behind it, the USB adapter's identity and, on
// Linux, the stable name udev gives it. For the operator choosing among several
// adapters on a production bench, where "ttyUSB3" moves on every replug
// and the adapter's serial number does not.
#pragma once

#include <string>

struct TSerialPortFacts {
    std::string Device;      // the device the name stands for (PortDevicePath)
    std::string LinkTarget;  // where the device path leads when it is a link ("/dev/pts/4", "\\Device\\VCP0")
    std::string Description; // the system's name for the device ("USB Serial Port (COM5)"), "" when none
    std::string Driver; // driver ("serial8250", "ftdi_sio", "cdc_acm"; Windows: "FTDIBUS", "usbser"), "" when unknown
    std::string UsbVendorId;  // four hex digits, "" for a port that is not a USB adapter
    std::string UsbProductId; // four hex digits
    std::string Manufacturer; // the adapter's own strings, "" when it has none
    std::string Product;
    std::string SerialNumber;
    std::string ById; // the link in the by-id folder that leads to the device, "" when none
    // An FTDI adapter's latency timer in ms as its Windows driver is set
    // (the driver holds back what it has received for up to this long), -1
    // when unknown. Linux sets the adapter's low-latency mode on opening.
    int LatencyTimerMs = -1;
};

// Where the facts are read. Tests point them at trees of their own.
struct TSerialFactSources {
    std::string SysfsRoot = "/sys/class/tty";
    std::string ByIdDir = "/dev/serial/by-id";
};

// The facts of a port name as the Port list shows it ("COM1", "ttyUSB0",
// "/tmp/morvex-ports/unit"). Nothing is opened: a port in use by another
// program is described all the same. Facts that cannot be read are empty.
TSerialPortFacts SerialPortFacts(const std::string& port, const TSerialFactSources& sources = {});
