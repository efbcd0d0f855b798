// --list-ports: the Setup dialog's Port list, one line per port with what
// the system knows of it.
#pragma once

#include "cli/usbport.h"
#include "serial/portinfo.h"

#include <QJsonArray>
#include <cstdio>
#include <string>
#include <vector>

// One line: the name as the list has it, then the device, the system's name
// for it, the driver, the USB adapter and its serial number, the stable
// by-id name and an FTDI adapter's latency timer, as far as known.
std::string PortLine(const std::string& port, const TSerialPortFacts& facts);

// The Port list with the facts of each port; EComPort when the system's
// device list cannot be read.
std::vector<TPortCandidate> SerialPortsWithFacts();

// The list for scripts: one object per port with every fact under a fixed
// key, null where the system knows nothing.
QJsonArray PortListJson(const std::vector<TPortCandidate>& ports);

// Prints the list, as lines or as JSON; EComPort when the system's device
// list cannot be read.
void PrintPortList(std::FILE* out, bool json = false);
