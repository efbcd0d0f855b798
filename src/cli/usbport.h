// Ports named by the adapter rather than by where the system put it:
// "usb:VID:PID[:SERIAL]" picks the one serial port whose USB adapter has
// these ids (and serial number), read from the same port facts as
// --list-ports. On a bench "ttyUSB3" moves with every replug; the adapter's
// serial number does not.
#pragma once

#include "serial/portinfo.h"

#include <optional>
#include <string>
#include <vector>

struct TUsbAdapterName {
    std::string VendorId;  // four lower-case hex digits
    std::string ProductId; // four lower-case hex digits
    std::string Serial;    // "" when any serial number will do
};

// Whether a port name is meant as an adapter name (starts with "usb:", any
// letter case), well formed or not.
bool IsUsbPortName(const std::string& port);

// The adapter a "usb:" name stands for; nullopt with the reason in error
// when the name is malformed. The ids are hex, one to four digits, in any
// letter case; everything after the third colon is the serial number.
std::optional<TUsbAdapterName> ParseUsbPortName(const std::string& port, std::string& error);

// A port of the Port list with what the system knows of it.
struct TPortCandidate {
    std::string Port;
    TSerialPortFacts Facts;
};

// The port the adapter name picks among the candidates (a device listed
// under several names counts once, by the first name): Port when exactly
// one adapter fits, otherwise Error, which says so and lists the adapters
// there are (none fits) or the ones that fit (several do).
struct TPortChoice {
    std::string Port;
    std::string Error;
};
TPortChoice ChooseUsbPort(const std::string& name, const TUsbAdapterName& adapter,
                          const std::vector<TPortCandidate>& candidates);
