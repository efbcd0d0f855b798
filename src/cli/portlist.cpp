#include "cli/portlist.h"

#include "serial/portnames.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonValue TextOrNull(const std::string& text)
{
    return text.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromStdString(text));
}
}

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

std::vector<TPortCandidate> SerialPortsWithFacts()
{
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    std::vector<TPortCandidate> candidates;
    for (const std::string& port : ports) candidates.push_back({port, SerialPortFacts(port)});
    return candidates;
}

QJsonArray PortListJson(const std::vector<TPortCandidate>& ports)
{
    QJsonArray list;
    for (const TPortCandidate& port : ports) {
        const TSerialPortFacts& facts = port.Facts;
        QJsonValue usb = QJsonValue::Null;
        if (!facts.UsbVendorId.empty())
            usb = QJsonObject{{"vendorId", TextOrNull(facts.UsbVendorId)},
                              {"productId", TextOrNull(facts.UsbProductId)},
                              {"manufacturer", TextOrNull(facts.Manufacturer)},
                              {"product", TextOrNull(facts.Product)},
                              {"serialNumber", TextOrNull(facts.SerialNumber)}};
        list.append(QJsonObject{
            {"port", QString::fromStdString(port.Port)},
            {"device", TextOrNull(facts.Device)},
            {"linkTarget", TextOrNull(facts.LinkTarget)},
            {"description", TextOrNull(facts.Description)},
            {"driver", TextOrNull(facts.Driver)},
            {"usb", usb},
            {"byId", TextOrNull(facts.ById)},
            {"latencyTimerMs", facts.LatencyTimerMs >= 0 ? QJsonValue(facts.LatencyTimerMs) : QJsonValue()},
        });
    }
    return list;
}

void PrintPortList(std::FILE* out, bool json)
{
    const std::vector<TPortCandidate> ports = SerialPortsWithFacts();
    if (json) {
        std::fprintf(out, "%s", QJsonDocument(PortListJson(ports)).toJson(QJsonDocument::Indented).constData());
    } else {
        for (const TPortCandidate& port : ports) std::fprintf(out, "%s\n", PortLine(port.Port, port.Facts).c_str());
    }
    std::fflush(out);
}
