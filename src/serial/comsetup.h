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

// Replaces the list with the serial ports this PC has, sorted as text
// ignoring case: on-board UARTs that exist as "COMn", other serial devices
// by their name under /dev ("ttyUSB0"), and every entry of the virtual-port
// directory by absolute path. An unreadable device list raises EComPort
// code 23.
void ListSerialPorts(std::vector<std::string>& list);

// The device a Port name stands for: an absolute path as is, "COMn" (any
// letter case) as /dev/ttyS(n-1), anything else as a name under /dev.
std::string PortDevicePath(const std::string& port);

// Where ListSerialPorts looks. The defaults are /sys/class/tty and the
// directory named by the environment variable MORVEX_PORT_DIR (or
// /tmp/morvex-ports); tests point them at trees of their own. Empty texts
// restore the defaults.
void SetSerialSysfsRoot(const std::string& path);
void SetVirtualPortDir(const std::string& path);
std::string VirtualPortDir();
