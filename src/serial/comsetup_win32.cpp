// The Port list and the port-name mapping on Windows: the serial ports the
// system lists in the registry, opened through the device namespace.
#include "serial/comsetup.h"

#include <windows.h>

namespace {

// The device map's values: one per port, named after the driver's device
// object, holding the port name ("COM3").
void ReadDeviceMap(HKEY key, std::vector<std::string>& found)
{
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD nameLength = sizeof valueName;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) return;
        // A value too long to be a port name is not one; the rest still are.
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) throw EComPort(CError_RegError, int32_t(result));
        if (type != REG_SZ) continue;
        data[dataLength] = 0; // registry strings need not end in a NUL
        std::string port(reinterpret_cast<const char*>(data));
        if (!port.empty()) found.push_back(port);
    }
}

} // namespace

void ListSerialPorts(std::vector<std::string>& list)
{
    std::vector<std::string> found;
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key);
    // The key exists only once a serial driver has started: none means no ports.
    if (result == ERROR_FILE_NOT_FOUND) {
        list.clear();
        return;
    }
    if (result != ERROR_SUCCESS) throw EComPort(CError_RegError, int32_t(result));
    try {
        ReadDeviceMap(key, found);
    } catch (...) {
        RegCloseKey(key);
        throw;
    }
    RegCloseKey(key);
    SortPortNames(found);
    list = std::move(found);
}

std::string PortDevicePath(const std::string& port)
{
    if (port.empty() || port.rfind("\\\\", 0) == 0) return port;
    return "\\\\.\\" + port;
}
