// The serial ports this PC has, as the Port list names them, and the device
// each name stands for. The platform's rules live in portnames_linux.cpp and
// portnames_win32.cpp; only the ordering is shared.
#pragma once

#include <string>
#include <vector>

// Sorts port names as the Port list shows them: as text ignoring case.
void SortPortNames(std::vector<std::string>& names);

// Replaces the list with the serial ports this PC has, sorted by
// SortPortNames. On Windows: the ports the system lists under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (a missing key is no
// ports; another registry failure raises EComPort code 23 with the error).
// On Linux: on-board UARTs that exist as "COMn" (a port whose type is
// unknown has no UART behind it), other serial devices by their name under
// /dev ("ttyUSB0") and, beside them, by their stable names in
// /dev/serial/by-id (full paths), and the entries of the virtual-port folder
// by absolute path. That folder is read only when it is this user's (or
// root's) and writable by nobody else, and an entry is listed only when the
// entry and what it leads to are the same. An unreadable device list raises
// EComPort code 23.
void ListSerialPorts(std::vector<std::string>& list);

// The device a Port name stands for. Linux: an absolute path as is, "COMn"
// (any letter case) as /dev/ttyS(n-1), anything else as a name under /dev.
// Windows: "\\.\" before the name (so COM10 and above open too), a name
// that already starts with "\\" as is.
std::string PortDevicePath(const std::string& port);

// How port names map to devices, for the command line's help: a few lines,
// each ending in a line end.
std::string PortNamingHelp();

// Linux only: where ListSerialPorts looks. The defaults are /sys/class/tty,
// /dev/serial/by-id and the folder the environment variable MORVEX_PORT_DIR
// names by absolute path; without it there is no virtual-port folder
// (VirtualPortDir is empty). Tests point them at trees of their own; empty
// texts restore the defaults.
void SetSerialSysfsRoot(const std::string& path);
// The folder of stable names whose links to listed devices ListSerialPorts
// adds by full path.
void SetSerialByIdDir(const std::string& path);
void SetVirtualPortDir(const std::string& path);
std::string VirtualPortDir();
