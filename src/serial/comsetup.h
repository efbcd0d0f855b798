// Text forms of the serial settings, the list of serial ports this PC has,
// and how a port name maps to a device.
#pragma once

#include "serial/comport.h"

#include <string>
#include <vector>

std::string BaudRateToText(TBaudRate value);
std::string DataBitsToText(TDataBits value);
std::string StopBitsToText(TStopBits value);
std::string ParityToText(TParityBits value);
std::string FlowControlToText(TFlowControl value);

// Upper-cased exact match against the text forms; a text that matches
// none gives the type's default (br9600, dbEight, sbOneStopBit, prNone,
// fcCustom).
TBaudRate TextToBaudRate(const std::string& text);
TDataBits TextToDataBits(const std::string& text);
TStopBits TextToStopBits(const std::string& text);
TParityBits TextToParity(const std::string& text);
TFlowControl TextToFlowControl(const std::string& text);

// Sorts port names as the Port list shows them: as text ignoring case.
void SortPortNames(std::vector<std::string>& names);

// Replaces the list with the serial ports this PC has, sorted by
// SortPortNames. On Windows: the ports the system lists under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (a missing key is no
// ports; another registry failure raises EComPort code 23 with the error).
// On Linux: on-board UARTs that exist as "COMn" (a port whose type is
// unknown has no UART behind it), other serial devices by their name under
// /dev ("ttyUSB0") and, beside them, by their stable names in
// /dev/serial/by-id (full paths), and the entries of the virtual-port folder by absolute
// path. That folder is read only when it is this user's (or root's) and
// writable by nobody else, and an entry is listed only when the entry and
// what it leads to are the same. An unreadable device list raises EComPort
// code 23.
void ListSerialPorts(std::vector<std::string>& list);

// The device a Port name stands for. Linux: an absolute path as is, "COMn"
// (any letter case) as /dev/ttyS(n-1), anything else as a name under /dev.
// Windows: "\\.\" before the name (so COM10 and above open too), a name
// that already starts with "\\" as is.
std::string PortDevicePath(const std::string& port);

// How port names map to devices, for the command line's help: a few lines,
// each ending in a line end.
std::string PortNamingHelp();

// Linux only: where ListSerialPorts looks. The defaults are /sys/class/tty and the
// folder the environment variable MORVEX_PORT_DIR names by absolute path;
// without it there is no virtual-port folder (VirtualPortDir is empty).
// Tests point them at trees of their own. Empty texts restore the defaults.
void SetSerialSysfsRoot(const std::string& path);
// Linux only: the folder of stable names whose links to listed devices
// ListSerialPorts adds by full path (default /dev/serial/by-id).
void SetSerialByIdDir(const std::string& path);
void SetVirtualPortDir(const std::string& path);
std::string VirtualPortDir();
