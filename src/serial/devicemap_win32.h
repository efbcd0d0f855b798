// The registry's serial device map, HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM:
// one value per port the drivers have started, named after the driver's
// device object ("\Device\VCP0") and holding the port name ("COM5"). The
// Port list and the port facts both read it here.
#pragma once

#include <string>
#include <vector>

struct TDeviceMapEntry {
    std::string DeviceObject;
    std::string Port;
};

// The map's entries in the registry's order. A missing key means no ports
// (it exists only once a serial driver has started); any other registry
// failure raises EComPort code 23 with the error number.
std::vector<TDeviceMapEntry> SerialDeviceMap();
