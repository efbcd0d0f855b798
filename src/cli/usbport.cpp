#include "cli/usbport.h"

#include "core/text.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {
const std::string Prefix = "usb:";

// One to four hex digits as four lower-case ones; "" when the text is not.
std::string HexId(const std::string& text)
{
    if (text.empty() || text.size() > 4) return "";
    std::string id(4 - text.size(), '0');
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
        id += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

bool Fits(const TUsbAdapterName& adapter, const TSerialPortFacts& facts)
{
    return !facts.UsbVendorId.empty() && HexId(facts.UsbVendorId) == adapter.VendorId &&
           HexId(facts.UsbProductId) == adapter.ProductId &&
           (adapter.Serial.empty() || SameTextIgnoringCase(facts.SerialNumber, adapter.Serial));
}

std::string Describe(const TPortCandidate& candidate)
{
    const TSerialPortFacts& facts = candidate.Facts;
    std::string text = "  " + candidate.Port + "  usb:" + facts.UsbVendorId + ":" + facts.UsbProductId;
    if (!facts.SerialNumber.empty()) text += ":" + facts.SerialNumber;
    if (!facts.Product.empty()) text += "  \"" + facts.Product + "\"";
    return text + "\n";
}

// The candidates' devices once each: the Port list names a USB adapter
// both by its kernel name and by its stable by-id path.
std::vector<const TPortCandidate*> Devices(const std::vector<TPortCandidate>& candidates)
{
    std::vector<const TPortCandidate*> devices;
    std::set<std::string> seen;
    for (const TPortCandidate& candidate : candidates) {
        const TSerialPortFacts& facts = candidate.Facts;
        if (seen.insert(facts.LinkTarget.empty() ? facts.Device : facts.LinkTarget).second)
            devices.push_back(&candidate);
    }
    return devices;
}
} // namespace

bool IsUsbPortName(const std::string& port)
{
    return port.size() >= Prefix.size() && SameTextIgnoringCase(port.substr(0, Prefix.size()), Prefix);
}

std::optional<TUsbAdapterName> ParseUsbPortName(const std::string& port, std::string& error)
{
    const std::string form = " (usb:VID:PID or usb:VID:PID:SERIAL, the ids in hex as --list-ports shows them)";
    const std::string rest = port.substr(std::min(port.size(), Prefix.size()));
    const size_t vendorEnd = rest.find(':');
    const size_t productEnd = vendorEnd == std::string::npos ? std::string::npos : rest.find(':', vendorEnd + 1);
    TUsbAdapterName adapter;
    adapter.VendorId = HexId(rest.substr(0, vendorEnd));
    if (vendorEnd != std::string::npos) {
        adapter.ProductId = HexId(rest.substr(vendorEnd + 1, productEnd - (vendorEnd + 1)));
        if (productEnd != std::string::npos) adapter.Serial = rest.substr(productEnd + 1);
    }
    if (vendorEnd == std::string::npos) {
        error = "bad adapter name \"" + port + "\" for --port: the product id is missing" + form;
        return std::nullopt;
    }
    if (adapter.VendorId.empty() || adapter.ProductId.empty()) {
        error = "bad adapter name \"" + port + "\" for --port: the vendor and product ids are one to four hex digits" +
                form;
        return std::nullopt;
    }
    if (productEnd != std::string::npos && adapter.Serial.empty()) {
        error = "bad adapter name \"" + port + "\" for --port: the serial number after the last colon is empty" + form;
        return std::nullopt;
    }
    return adapter;
}

TPortChoice ChooseUsbPort(const std::string& name, const TUsbAdapterName& adapter,
                          const std::vector<TPortCandidate>& candidates)
{
    std::vector<const TPortCandidate*> usb;
    std::vector<const TPortCandidate*> fitting;
    for (const TPortCandidate* candidate : Devices(candidates)) {
        if (candidate->Facts.UsbVendorId.empty()) continue;
        usb.push_back(candidate);
        if (Fits(adapter, candidate->Facts)) fitting.push_back(candidate);
    }
    TPortChoice choice;
    if (fitting.size() == 1) {
        choice.Port = fitting.front()->Port;
        return choice;
    }
    const bool none = fitting.empty();
    if (none && usb.empty()) {
        choice.Error = "No serial port belongs to the USB adapter " + name + ": no USB serial adapter is plugged in.";
        return choice;
    }
    choice.Error = none ? "No serial port belongs to the USB adapter " + name + ". The USB serial adapters are:\n"
                        : "Several serial ports belong to the USB adapter " + name +
                              "; name one by its serial number or its port name:\n";
    for (const TPortCandidate* candidate : none ? usb : fitting) choice.Error += Describe(*candidate);
    choice.Error.pop_back();
    return choice;
}
