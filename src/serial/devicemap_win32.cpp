// The registry's serial device map, read in this one place for the Port list
// and the port facts alike.
#include "serial/devicemap_win32.h"

#include "serial/registry_win32.h"
#include "serial/serialtypes.h"

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
