#include "cli/portlist.h"

#include "serial/portnames.h"

#include <vector>

std::string PortLine(const std::string& port, const TSerialPortFacts& facts)
{
    std::string line = port;
    if (facts.Device != port) line += "  " + facts.Device;
    if (!facts.LinkTarget.empty()) line += " -> " + facts.LinkTarget;
    if (!facts.Description.empty()) line += "  \"" + facts.Description + "\"";
    if (!facts.Driver.empty()) line += "  driver " + facts.Driver;
    if (!facts.UsbVendorId.empty()) {
        line += "  usb " + facts.UsbVendorId + ":" + facts.UsbProductId;
        for (const std::string* text : {&facts.Manufacturer, &facts.Product})
            if (!text->empty()) line += " \"" + *text + "\"";
        if (!facts.SerialNumber.empty()) line += "  serial " + facts.SerialNumber;
    }
    if (!facts.ById.empty()) line += "  by-id " + facts.ById;
    if (facts.LatencyTimerMs >= 0) line += "  latency timer " + std::to_string(facts.LatencyTimerMs) + " ms";
    return line;
}

void PrintPortList(std::FILE* out)
{
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    for (const std::string& port : ports) std::fprintf(out, "%s\n", PortLine(port, SerialPortFacts(port)).c_str());
    std::fflush(out);
}
