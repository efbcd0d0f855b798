// The Port list and the port-name mapping on Linux: serial ttys from sysfs,
// COMn as /dev/ttyS(n-1), and the virtual-port folder.
#include "serial/portnames.h"

#include "core/text.h"
#include "serial/serialtypes.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FSysfsRoot;
std::string FVirtualPortDir;
std::string FByIdDir;

std::string SysfsRoot() { return FSysfsRoot.empty() ? "/sys/class/tty" : FSysfsRoot; }
std::string ByIdDir() { return FByIdDir.empty() ? "/dev/serial/by-id" : FByIdDir; }

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

// Serial-core drivers register ports whether or not a UART answers behind
// them (the 8250 driver a fixed number, COM1 to COM32); those report the
// type "unknown" (PORT_UNKNOWN, 0). The type tells, not the driver's name:
// the device's driver link named serial8250 before Linux 6.5, and names the
// serial-base bus's "port" driver since. Ttys without the attribute (USB
// adapters) have hardware behind them by being there. The device is not
// opened to ask the driver instead: opening a tty raises its modem lines,
// which resets some units.
bool IsPlaceholder(const std::string& entry)
{
    std::ifstream type(entry + "/type");
    int value = -1;
    return (type >> value) && value == 0;
}

gid_t TtyGroup()
{
    const group* tty = getgrnam("tty");
    return tty ? tty->gr_gid : gid_t(-1);
}

// Whether a file of the virtual-port folder is one nobody else could have
// put there or changed: owned by this user (or by root, who could change
// anything anyway) and writable by no other. Pseudo-terminals are made
// writable by the tty group for write(1) and wall(1); that group may keep it.
bool OwnedAndPrivate(const struct stat& info, bool isLink)
{
    if (info.st_uid != geteuid() && info.st_uid != 0) return false;
    if (isLink) return true; // a link's own mode means nothing: it cannot be written through
    if (info.st_mode & S_IWOTH) return false;
    return !(info.st_mode & S_IWGRP) || (S_ISCHR(info.st_mode) && info.st_gid == TtyGroup());
}

// An entry is offered when both the entry itself and what it leads to pass;
// a link that leads nowhere is not a port.
bool TrustedEntry(const std::string& path)
{
    struct stat entry {
    }, target{};
    if (lstat(path.c_str(), &entry) != 0 || stat(path.c_str(), &target) != 0) return false;
    return OwnedAndPrivate(entry, S_ISLNK(entry.st_mode)) && OwnedAndPrivate(target, false);
}

// "ttyS3" is the fourth on-board UART, known to the user as COM4.
std::string PortName(const std::string& device)
{
    if (device.size() > 4 && device.size() <= 13 && device.compare(0, 4, "ttyS") == 0 &&
        std::all_of(device.begin() + 4, device.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "COM" + std::to_string(std::stol(device.substr(4)) + 1);
    return device;
}

// udev's stable names of USB adapters (/dev/serial/by-id/usb-...), which
// stay the same whichever ttyUSBn the adapter gets: each link that leads to
// a character device listed from sysfs is offered by its full path beside
// the device's own name. No folder (no adapter) means none.
void AddByIdNames(const std::vector<std::string>& devices, std::vector<std::string>& found)
{
    const std::string dir = ByIdDir();
    std::vector<std::string> links;
    if (ReadDirectory(dir, links) != 0) return;
    for (const std::string& link : links) {
        const std::string path = dir + "/" + link;
        char* resolved = realpath(path.c_str(), nullptr);
        if (!resolved) continue; // leads nowhere
        const std::string target = resolved;
        std::free(resolved);
        struct stat info {};
        const std::string name = target.substr(target.rfind('/') + 1);
        if (stat(target.c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
            std::find(devices.begin(), devices.end(), name) != devices.end())
            found.push_back(path);
    }
}

} // namespace

void SetSerialByIdDir(const std::string& path) { FByIdDir = path; }
void SetSerialSysfsRoot(const std::string& path) { FSysfsRoot = path; }
void SetVirtualPortDir(const std::string& path) { FVirtualPortDir = path; }

std::string VirtualPortDir()
{
    if (!FVirtualPortDir.empty()) return FVirtualPortDir;
    // Only a folder the user names, and only by absolute path: the list
    // offers its entries by their full paths.
    const char* fromEnvironment = std::getenv("MORVEX_PORT_DIR");
    return fromEnvironment && fromEnvironment[0] == '/' ? fromEnvironment : "";
}

void ListSerialPorts(std::vector<std::string>& list)
{
    std::vector<std::string> found;
    const std::string root = SysfsRoot();
    std::vector<std::string> devices, serialDevices;
    if (int error = ReadDirectory(root, devices)) throw EComPort(CError_RegError, error);
    for (const std::string& device : devices) {
        const std::string entry = root + "/" + device;
        // Only ttys backed by hardware have a device; consoles and
        // pseudo-terminals have none.
        if (access((entry + "/device").c_str(), F_OK) == 0 && !IsPlaceholder(entry)) {
            found.push_back(PortName(device));
            serialDevices.push_back(device);
        }
    }
    AddByIdNames(serialDevices, found);

    // Ports that exist only as links to pseudo-terminals (the simulated
    // unit); no such folder simply means there are none. Such a folder is
    // usually in /tmp, where every user may create files: a folder or an
    // entry another user could have planted or could change would let
    // them hand the programmer a terminal of their own, and the firmware
    // image with it. Those are left out, saying why. The folder is the
    // user's choice, not the system's port list: one that cannot be read
    // costs its ports and a warning, never the whole list.
    const std::string named = VirtualPortDir();
    // Entries are named folder + "/" + entry, so the folder loses its
    // trailing slashes ("/" becomes "", and "/bin" stays "/bin").
    std::string virtualDir = named;
    while (!virtualDir.empty() && virtualDir.back() == '/') virtualDir.pop_back();
    const std::string folderPath = virtualDir.empty() ? "/" : virtualDir;
    struct stat folder {};
    if (named.empty()) {
        // no folder: no virtual ports
    } else if (stat(folderPath.c_str(), &folder) != 0) {
        if (errno != ENOENT) qWarning("Virtual ports in %s are not offered: %s", named.c_str(), std::strerror(errno));
    } else if (!S_ISDIR(folder.st_mode)) {
        qWarning("Virtual ports in %s are not offered: it is not a folder", named.c_str());
    } else if (!OwnedAndPrivate(folder, false)) {
        qWarning("Virtual ports in %s are not offered: the folder must be yours and writable by nobody else",
                 named.c_str());
    } else {
        std::vector<std::string> links;
        if (int error = ReadDirectory(folderPath, links))
            qWarning("Virtual ports in %s are not offered: %s", named.c_str(), std::strerror(error));
        for (const std::string& link : links) {
            const std::string path = virtualDir + "/" + link;
            // Only a terminal can be a port; files, pipes and folders that
            // happen to be there are passed over without a word.
            struct stat target {};
            if (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) continue;
            if (TrustedEntry(path))
                found.push_back(path);
            else
                qWarning("Virtual port %s is not offered: it and what it leads to must be yours and writable by "
                         "nobody else",
                         path.c_str());
        }
    }

    SortPortNames(found);
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

std::string PortNamingHelp()
{
    return "A port name starting with / is a device path; COMn is /dev/ttyS(n-1); any\n"
           "other name is a device under /dev.\n";
}
