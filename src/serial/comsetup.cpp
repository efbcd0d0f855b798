#include "serial/comsetup.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

const char* const BaudRateTexts[] = {"Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
                                     "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
const char* const DataBitsTexts[] = {"5", "6", "7", "8"};
const char* const StopBitsTexts[] = {"1", "1.5", "2"};
const char* const ParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
const char* const FlowControlTexts[] = {"Hardware", "Software", "None", "Custom"};

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

template <size_t N>
std::string ToText(const char* const (&texts)[N], int value)
{
    return value >= 0 && size_t(value) < N ? texts[value] : "";
}

template <typename T, size_t N>
T FromText(const char* const (&texts)[N], const std::string& text, T fallback)
{
    const std::string wanted = UpperAscii(text);
    for (size_t i = 0; i < N; ++i)
        if (UpperAscii(texts[i]) == wanted) return T(i);
    return fallback;
}

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    const std::string ua = UpperAscii(a), ub = UpperAscii(b);
    return ua != ub ? ua < ub : a < b;
}

std::string FSysfsRoot;
std::string FVirtualPortDir;

std::string SysfsRoot() { return FSysfsRoot.empty() ? "/sys/class/tty" : FSysfsRoot; }

// The entries of a directory, without "." and "..". Returns 0 or the errno value.
int ReadDirectory(const std::string& path, std::vector<std::string>& names)
{
    DIR* dir = opendir(path.c_str());
    if (!dir) return errno;
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
        errno = 0;
    }
    int error = errno;
    closedir(dir);
    return error;
}

std::string Basename(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadLink(const std::string& path)
{
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, size_t(length)) : std::string();
}

// The 8250 driver registers a fixed number of ttyS ports whether or not a
// UART is behind them; those report the type 0 ("unknown").
bool IsPlaceholder(const std::string& entry)
{
    if (Basename(ReadLink(entry + "/device/driver")) != "serial8250") return false;
    std::ifstream type(entry + "/type");
    int value = -1;
    return (type >> value) && value == 0;
}

// "ttyS3" is the fourth on-board UART, known to the user as COM4.
std::string PortName(const std::string& device)
{
    if (device.size() > 4 && device.size() <= 13 && device.compare(0, 4, "ttyS") == 0 &&
        std::all_of(device.begin() + 4, device.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "COM" + std::to_string(std::stol(device.substr(4)) + 1);
    return device;
}

} // namespace

std::string BaudRateToText(TBaudRate value) { return ToText(BaudRateTexts, value); }
std::string DataBitsToText(TDataBits value) { return ToText(DataBitsTexts, value); }
std::string StopBitsToText(TStopBits value) { return ToText(StopBitsTexts, value); }
std::string ParityToText(TParityBits value) { return ToText(ParityTexts, value); }
std::string FlowControlToText(TFlowControl value) { return ToText(FlowControlTexts, value); }

TBaudRate TextToBaudRate(const std::string& text) { return FromText(BaudRateTexts, text, br9600); }
TDataBits TextToDataBits(const std::string& text) { return FromText(DataBitsTexts, text, dbEight); }
TStopBits TextToStopBits(const std::string& text) { return FromText(StopBitsTexts, text, sbOneStopBit); }
TParityBits TextToParity(const std::string& text) { return FromText(ParityTexts, text, prNone); }
TFlowControl TextToFlowControl(const std::string& text) { return FromText(FlowControlTexts, text, fcCustom); }

void SetSerialSysfsRoot(const std::string& path) { FSysfsRoot = path; }
void SetVirtualPortDir(const std::string& path) { FVirtualPortDir = path; }

std::string VirtualPortDir()
{
    if (!FVirtualPortDir.empty()) return FVirtualPortDir;
    const char* fromEnvironment = std::getenv("MORVEX_PORT_DIR");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp/morvex-ports";
}

void ListSerialPorts(std::vector<std::string>& list)
{
    std::vector<std::string> found;
    const std::string root = SysfsRoot();
    std::vector<std::string> devices;
    if (int error = ReadDirectory(root, devices)) throw EComPort(CError_RegError, error);
    for (const std::string& device : devices) {
        const std::string entry = root + "/" + device;
        // Only ttys backed by hardware have a device; consoles and
        // pseudo-terminals have none.
        if (access((entry + "/device").c_str(), F_OK) == 0 && !IsPlaceholder(entry)) found.push_back(PortName(device));
    }

    // Ports that exist only as links to pseudo-terminals (the simulated
    // unit); no such directory simply means there are none.
    std::string virtualDir = VirtualPortDir();
    while (virtualDir.size() > 1 && virtualDir.back() == '/') virtualDir.pop_back();
    std::vector<std::string> links;
    int error = ReadDirectory(virtualDir, links);
    if (error && error != ENOENT) throw EComPort(CError_RegError, error);
    for (const std::string& link : links) found.push_back(virtualDir + "/" + link);

    std::sort(found.begin(), found.end(), LessIgnoringCase);
    list = std::move(found);
}

std::string PortDevicePath(const std::string& port)
{
    if (port.empty() || port[0] == '/') return port;
    const std::string upper = UpperAscii(port);
    if (upper.size() > 3 && upper.compare(0, 3, "COM") == 0 && upper.size() <= 12 &&
        std::all_of(upper.begin() + 3, upper.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        long number = std::stol(upper.substr(3));
        if (number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
    }
    return "/dev/" + port;
}
