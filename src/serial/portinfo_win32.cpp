// What Windows tells of a port without opening it, from the registry alone:
// the device object the serial device map names for it, and from the
// device tree
// (HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance>,
// whose "Device Parameters" hold the PortName the driver was given) the
// device's name, manufacturer, driver service, USB ids, serial
// number and an FTDI adapter's latency timer. The tree is read directly
// rather than through the setup API: it is what the setup API reads too,
// and it reads the same on every Windows since XP (and under Wine).
#include "serial/portinfo.h"

#include "serial/devicemap_win32.h"
#include "serial/portnames.h"
#include "serial/registry_win32.h"
#include "serial/serialtypes.h"

#include <cctype>

namespace {

const char* const DeviceTree = "SYSTEM\\CurrentControlSet\\Enum";

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Device strings from a driver's INF are often stored indirectly,
// "@oem12.inf,%ftdi%;FTDI": the text after the last ';' is the plain one.
std::string PlainText(const std::optional<std::string>& text)
{
    if (!text) return "";
    if (text->empty() || text->front() != '@') return *text;
    const size_t semicolon = text->rfind(';');
    return semicolon == std::string::npos ? "" : text->substr(semicolon + 1);
}

// The four hex digits after tag ("VID_", "PID_") in a device id, upper-cased.
std::string HexField(const std::string& id, const char* tag)
{
    std::string upper = id;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    const size_t at = upper.find(tag);
    if (at == std::string::npos || at + 4 + 4 > upper.size()) return "";
    const std::string digits = upper.substr(at + 4, 4);
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    return digits;
}

// One instance of the device tree: where it sits and its keys.
struct TInstance {
    std::string Enumerator; // "USB", "FTDIBUS", "ACPI"
    std::string DeviceId;   // "VID_0403&PID_6001", "VID_0403+PID_6001+A12345BCA"
    std::string Name;       // "A12345BC", "0000", "5&2f3c1a&0&2"
    TRegistryKey Key;
    TRegistryKey Parameters;
};

// The instance whose driver was given the port name, if any. A device that
// was unplugged keeps its key and its name; the first one found counts.
bool FindInstance(const std::string& port, TInstance& found)
{
    TRegistryKey tree;
    if (tree.Open(HKEY_LOCAL_MACHINE, DeviceTree) != ERROR_SUCCESS) return false;
    for (const std::string& enumerator : tree.SubkeyNames()) {
        TRegistryKey enumeratorKey;
        if (enumeratorKey.Open(tree, enumerator) != ERROR_SUCCESS) continue;
        for (const std::string& deviceId : enumeratorKey.SubkeyNames()) {
            TRegistryKey deviceKey;
            if (deviceKey.Open(enumeratorKey, deviceId) != ERROR_SUCCESS) continue;
            for (const std::string& name : deviceKey.SubkeyNames()) {
                TRegistryKey parameters;
                if (parameters.Open(deviceKey, name + "\\Device Parameters") != ERROR_SUCCESS) continue;
                const std::optional<std::string> portName = parameters.Text("PortName");
                if (!portName || !SameName(*portName, port)) continue;
                found.Enumerator = enumerator;
                found.DeviceId = deviceId;
                found.Name = name;
                found.Key.Open(deviceKey, name);
                found.Parameters.Open(deviceKey, name + "\\Device Parameters");
                return true;
            }
        }
    }
    return false;
}

// The adapter's serial number. A USB device that has one is its instance's
// name (Windows makes up names with '&' for those that have none). FTDI's
// bus driver names each port after the serial number with the port's
// letter appended ("A12345BC" + "A"), and the USB device above it carries
// the number itself.
std::string SerialNumberOf(const TInstance& instance, const std::string& vendor, const std::string& product)
{
    if (SameName(instance.Enumerator, "USB")) return instance.Name.find('&') == std::string::npos ? instance.Name : "";
    if (!SameName(instance.Enumerator, "FTDIBUS")) return "";
    const size_t plus = instance.DeviceId.rfind('+');
    if (plus == std::string::npos) return "";
    const std::string field = instance.DeviceId.substr(plus + 1);
    if (field.size() > 1) {
        const std::string withoutLetter = field.substr(0, field.size() - 1);
        TRegistryKey parent;
        if (parent.Open(HKEY_LOCAL_MACHINE, std::string(DeviceTree) + "\\USB\\VID_" + vendor + "&PID_" + product +
                                                "\\" + withoutLetter) == ERROR_SUCCESS)
            return withoutLetter;
    }
    return field;
}

void ReadDeviceTree(const std::string& port, TSerialPortFacts& facts)
{
    TInstance instance;
    if (!FindInstance(port, instance)) return;
    facts.Description = PlainText(instance.Key.Text("FriendlyName"));
    if (facts.Description.empty()) facts.Description = PlainText(instance.Key.Text("DeviceDesc"));
    facts.Manufacturer = PlainText(instance.Key.Text("Mfg"));
    facts.Driver = PlainText(instance.Key.Text("Service"));
    // The ids: from the hardware ids, else from the device's own key name.
    std::vector<std::string> ids = instance.Key.Texts("HardwareID");
    ids.push_back(instance.DeviceId);
    for (const std::string& id : ids) {
        const std::string vendor = HexField(id, "VID_"), product = HexField(id, "PID_");
        if (vendor.empty() || product.empty()) continue;
        facts.UsbVendorId = vendor;
        facts.UsbProductId = product;
        facts.SerialNumber = SerialNumberOf(instance, vendor, product);
        break;
    }
    if (const std::optional<DWORD> latency = instance.Parameters.Number("LatencyTimer"))
        facts.LatencyTimerMs = int(*latency);
}

} // namespace

TSerialPortFacts SerialPortFacts(const std::string& port, const TSerialFactSources&)
{
    TSerialPortFacts facts;
    facts.Device = PortDevicePath(port);
    try {
        for (const TDeviceMapEntry& entry : SerialDeviceMap())
            if (SameName(entry.Port, port)) facts.LinkTarget = entry.DeviceObject;
    } catch (const EComPort&) {
        // Facts that cannot be read are empty; the port list says why.
    }
    ReadDeviceTree(port, facts);
    return facts;
}
