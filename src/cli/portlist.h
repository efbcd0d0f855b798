// --list-ports: the Setup dialog's Port list, one line per port with what
// the system knows of it.
#pragma once

#include "serial/portinfo.h"

#include <cstdio>
#include <string>

// One line: the name as the list has it, then the device, the system's name
// for it, the driver, the USB adapter and its serial number, the stable
// by-id name and an FTDI adapter's latency timer, as far as known.
std::string PortLine(const std::string& port, const TSerialPortFacts& facts);

// Prints the list; EComPort when the system's device list cannot be read.
void PrintPortList(std::FILE* out);
