#include "serial/portinfo.h"

#include "serial/portnames.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, "" when it cannot be read.
std::string ReadAttribute(const fs::path& path)
{
    std::ifstream file(path);
    std::string line;
    if (!std::getline(file, line)) return "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

fs::path Canonical(const fs::path& path)
{
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    return error ? fs::path() : resolved;
}

// The USB device an interface or port belongs to: the nearest folder above
// that carries a vendor id. A port that is not on USB has none.
fs::path UsbDeviceAbove(fs::path folder)
{
    for (int depth = 0; depth < 8 && folder.has_relative_path(); ++depth) {
        std::error_code error;
        if (fs::exists(folder / "idVendor", error)) return folder;
        folder = folder.parent_path();
    }
    return {};
}

// The driver of the hardware behind a tty. Newer kernels put the serial
// core's own port and controller devices (bus serial-base, drivers "port"
// and "ctrl") between the tty and the UART: the driver that says what the
// hardware is sits above them.
std::string DriverOf(fs::path folder)
{
    for (int depth = 0; depth < 4 && folder.has_relative_path(); ++depth) {
        const fs::path driver = Canonical(folder / "driver");
        if (!driver.empty() && driver.parent_path().parent_path().filename() != "serial-base")
            return driver.filename().string();
        folder = folder.parent_path();
    }
    return "";
}

void ReadSysfsFacts(const fs::path& device, const TSerialFactSources& sources, TSerialPortFacts& facts)
{
    // The class entry is named after the device node; only ttys backed by
    // hardware have a device folder below it.
    const fs::path entry = fs::path(sources.SysfsRoot) / device.filename();
    const fs::path hardware = Canonical(entry / "device");
    if (hardware.empty()) return;
    facts.Driver = DriverOf(hardware);
    const fs::path usb = UsbDeviceAbove(hardware);
    if (usb.empty()) return;
    facts.UsbVendorId = ReadAttribute(usb / "idVendor");
    facts.UsbProductId = ReadAttribute(usb / "idProduct");
    facts.Manufacturer = ReadAttribute(usb / "manufacturer");
    facts.Product = ReadAttribute(usb / "product");
    facts.SerialNumber = ReadAttribute(usb / "serial");
}

std::string ByIdLinkTo(const fs::path& device, const std::string& byIdDir)
{
    std::error_code error;
    for (auto it = fs::directory_iterator(byIdDir, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        if (Canonical(it->path()) == device) return it->path().string();
    }
    return "";
}

} // namespace

TSerialPortFacts SerialPortFacts(const std::string& port, const TSerialFactSources& sources)
{
    TSerialPortFacts facts;
    facts.Device = PortDevicePath(port);
    const fs::path device = Canonical(facts.Device);
    if (device.empty()) return facts;
    if (device != fs::path(facts.Device)) facts.LinkTarget = device.string();
    ReadSysfsFacts(device, sources, facts);
    facts.ById = ByIdLinkTo(device, sources.ByIdDir);
    return facts;
}
