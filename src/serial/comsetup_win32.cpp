// The Port list and the port-name mapping on Windows: the serial ports the
// system lists in the registry, opened through the device namespace.
#include "serial/comsetup.h"

#include "serial/devicemap_win32.h"
#include "serial/registry_win32.h"

std::vector<TDeviceMapEntry> SerialDeviceMap()
{
    std::vector<TDeviceMapEntry> entries;
    TRegistryKey key;
    const LONG opened = key.Open(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
    if (opened == ERROR_FILE_NOT_FOUND) return entries;
    if (opened != ERROR_SUCCESS) throw EComPort(CError_RegError, int32_t(opened));
    for (DWORD index = 0;; ++index) {
        TRegistryKey::TValue value;
        const LONG result = key.ValueAt(index, value);
        if (result == ERROR_NO_MORE_ITEMS) break;
        // A value too long to be a port name is not one; the rest still are.
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) throw EComPort(CError_RegError, int32_t(result));
        if (value.Type == REG_SZ && !value.Text.empty()) entries.push_back({value.Name, value.Text});
    }
    return entries;
}

void ListSerialPorts(std::vector<std::string>& list)
{
    std::vector<std::string> found;
    for (const TDeviceMapEntry& entry : SerialDeviceMap()) found.push_back(entry.Port);
    SortPortNames(found);
    list = std::move(found);
}

std::string PortDevicePath(const std::string& port)
{
    if (port.empty() || port.rfind("\\\\", 0) == 0) return port;
    return "\\\\.\\" + port;
}

std::string PortNamingHelp()
{
    return "A port is named as Windows names it: COM1, COM3, COM10 and above all work\n"
           "(they are opened as \\\\.\\COMn); --list-ports shows the ports Windows has, with\n"
           "each adapter's name, driver and USB ids as Device Manager shows them.\n";
}
