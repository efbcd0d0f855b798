#include "cli/gangtable.h"

#include <algorithm>
#include <cstdio>

namespace {
std::string Printf(const char* format, auto... values)
{
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string Padded(const std::string& text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// A port name longer than its column keeps its end, which tells ports
// apart (".../usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").
std::string PortColumn(const std::string& port, size_t width)
{
    if (port.size() <= width || width < 4) return Padded(port, width);
    return "..." + port.substr(port.size() - (width - 3));
}

std::string ExitText(int exitCode) { return exitCode < 0 ? "-" : std::to_string(exitCode); }
}

std::string GangLiveLine(const TGangUnit& unit, size_t portWidth, size_t width)
{
    std::string line = PortColumn(unit.Port, portWidth) + "  ";
    if (unit.Ended) {
        line += unit.Result + Printf(" (exit %s) in %.1f s", ExitText(unit.ExitCode).c_str(), unit.Seconds);
    } else if (unit.Step.empty()) {
        line += "starting";
    } else {
        line += Padded(unit.Step, 12);
        if (unit.Percent >= 0) line += Printf(" %3d%%", unit.Percent);
        if (unit.BitRate >= 0) line += Printf("  %6lld bit/s", unit.BitRate);
        if (unit.SecondsLeft >= 0) line += Printf("  %d:%02d left", unit.SecondsLeft / 60, unit.SecondsLeft % 60);
    }
    if (line.size() > width) line.resize(width);
    return line;
}

std::string GangSummary(const std::vector<TGangUnit>& units)
{
    std::vector<std::vector<std::string>> rows = {{"Port", "Adapter serial", "Unit identity", "Result", "Time", "Exit"}};
    for (const TGangUnit& unit : units)
        rows.push_back({unit.Port, unit.AdapterSerial.empty() ? "-" : unit.AdapterSerial,
                        unit.Identity.empty() ? "-" : unit.Identity, unit.Result, Printf("%.1f s", unit.Seconds),
                        ExitText(unit.ExitCode)});
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (size_t column = 0; column < row.size(); ++column) widths[column] = std::max(widths[column], row[column].size());
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (size_t column = 0; column < row.size(); ++column)
            line += column + 1 < row.size() ? Padded(row[column], widths[column]) + "  " : row[column];
        table += line + "\n";
    }
    return table;
}
