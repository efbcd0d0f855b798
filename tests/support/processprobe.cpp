#include "tests/support/processprobe.h"

#include "serial/comport.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
int CountEntries(const char* directory)
{
    int count = 0;
    std::error_code error;
    for (auto it = fs::directory_iterator(directory, error); !error && it != fs::directory_iterator();
         it.increment(error))
        ++count;
    return count;
}
}

int CountOpenDescriptors()
{
    // The directory listing itself holds one descriptor while it runs.
    return CountEntries("/proc/self/fd") - 1;
}

int CountThreads() { return CountEntries("/proc/self/task"); }

int DescriptorsOpenOn(const std::string& devicePath)
{
    std::error_code error;
    fs::path device = fs::canonical(devicePath, error);
    if (error) device = devicePath;
    const std::string name = device.string();
    int count = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd", error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(it->path(), linkError).string();
        if (!linkError && (target == name || target == name + " (deleted)")) ++count;
    }
    return count;
}

std::string OpenExclusively(const std::string& devicePath)
{
    TComPort port;
    port.SetPort(devicePath);
    try {
        port.OpenPort();
        port.ClosePort();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "";
}

std::string OpenFromSecondProgram(const std::string& devicePath)
{
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = PORT_PROBE_PROGRAM;
    std::string device = devicePath;
    char* argv[] = {program.data(), device.data(), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return "cannot start " + program;
    }
    std::string said;
    std::array<char, 256> buffer;
    for (ssize_t n; (n = read(out[0], buffer.data(), buffer.size())) > 0;) said.append(buffer.data(), size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    return said.empty() ? "probe ended with status " + std::to_string(status) : said;
}

size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * size_t(sysconf(_SC_PAGESIZE));
}
