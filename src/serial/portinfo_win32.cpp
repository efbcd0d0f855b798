// What Windows tells of a port without opening it: the device path the
// port opens through, and the driver's device object the device map names
// for it ("\Device\Serial0", "\Device\VCP0"). USB identities would need the
// setup API and are left empty.
#include "serial/portinfo.h"

#include "serial/comsetup.h"

#include <windows.h>

namespace {

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), int(a.size()), b.data(),
                                                  int(b.size())) == CSTR_EQUAL;
}

std::string DeviceObjectOf(const std::string& port)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return "";
    std::string object;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD nameLength = sizeof valueName;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataLength] = 0;
        if (SameName(reinterpret_cast<const char*>(data), port)) {
            object.assign(valueName, nameLength);
            break;
        }
    }
    RegCloseKey(key);
    return object;
}

} // namespace

TSerialPortFacts SerialPortFacts(const std::string& port, const TSerialFactSources&)
{
    TSerialPortFacts facts;
    facts.Device = PortDevicePath(port);
    facts.Driver = DeviceObjectOf(port);
    return facts;
}
