// The Port list and the port-name mapping on Windows: the serial ports the
// system lists in the registry, opened through the device namespace.
#include "serial/portnames.h"

#include "serial/devicemap_win32.h"

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
