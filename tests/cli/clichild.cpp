#include "clichild.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
using TClock = std::chrono::steady_clock;

// Argument and environment vectors built before the fork: the child of a
// threaded process may only call what is safe after fork until it execs.
struct TExecVectors {
    std::vector<std::string> Strings;
    std::vector<char*> Argv;
    std::vector<char*> Envp;

    TExecVectors(const std::vector<std::string>& arguments, const TEnvironment& environment)
    {
        std::vector<std::string> env;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const std::string key = text.substr(0, text.find('=') + 1);
            bool replaced = false;
            for (const std::string& extra : environment) replaced |= extra.rfind(key, 0) == 0;
            if (!replaced) env.push_back(text);
        }
        env.insert(env.end(), environment.begin(), environment.end());
        Strings.push_back(MORVEX_CLI_PROGRAM);
        Strings.insert(Strings.end(), arguments.begin(), arguments.end());
        const size_t argumentCount = Strings.size();
        Strings.insert(Strings.end(), env.begin(), env.end());
        for (size_t i = 0; i < Strings.size(); ++i) (i < argumentCount ? Argv : Envp).push_back(Strings[i].data());
        Argv.push_back(nullptr);
        Envp.push_back(nullptr);
    }
};

int MsLeft(TClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left > 0 ? int(left) : 0;
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

void Reap(pid_t pid, TCliResult& result, TClock::time_point deadline)
{
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) return;
        if (MsLeft(deadline) == 0) {
            result.TimedOut = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(2000);
    }
    result.ExitCode = result.TimedOut ? -1 : ExitCodeOf(status);
}
}

// ------------------------------------------------------------ without terminal

TCliChild::TCliChild(const std::vector<std::string>& arguments, const TEnvironment& environment,
                     const TChildSetup& setup)
{
    TExecVectors vectors(arguments, environment);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    FPid = fork();
    if (FPid == 0) {
        // Only what is safe after fork in a threaded process, until exec.
        // A process group of its own: a Ctrl-C meant for the test program
        // is not also the child's.
        setpgid(0, 0);
        for (const int signal : setup.IgnoredSignals) {
            struct sigaction ignore = {};
            ignore.sa_handler = SIG_IGN;
            sigaction(signal, &ignore, nullptr);
        }
        if (setup.FileSizeLimit >= 0) {
            const rlimit limit = {rlim_t(setup.FileSizeLimit), rlim_t(setup.FileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (setup.CoreDumps) {
            const rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
            setrlimit(RLIMIT_CORE, &unlimited);
        }
        if (!setup.WorkingFolder.empty() && chdir(setup.WorkingFolder.c_str()) != 0) _exit(126);
        if (setup.StandardStreamsClosed) {
            for (int descriptor = 0; descriptor <= 2; ++descriptor) close(descriptor);
        } else {
            const int in = open("/dev/null", O_RDONLY);
            dup2(in, STDIN_FILENO);
            if (setup.OutputFile.empty()) {
                dup2(out[1], STDOUT_FILENO);
            } else {
                const int file = open(setup.OutputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                dup2(file, STDOUT_FILENO);
            }
            dup2(err[1], STDERR_FILENO);
        }
        execve(vectors.Argv[0], vectors.Argv.data(), vectors.Envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    FOut = out[0];
    FErr = err[0];
}

TCliChild::~TCliChild()
{
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) close(FOut);
    if (FErr >= 0) close(FErr);
}

void TCliChild::Signal(int signal) const
{
    if (FPid > 0) kill(FPid, signal);
}

void TCliChild::CloseOutput()
{
    if (FOut >= 0) close(FOut);
    FOut = -1;
}

TCliResult TCliChild::Wait(int timeoutMs)
{
    TCliResult result;
    if (FPid <= 0) return result;
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    int* const fds[2] = {&FOut, &FErr};
    std::string* const texts[2] = {&result.Out, &result.Err};
    while ((FOut >= 0 || FErr >= 0) && MsLeft(deadline) > 0) {
        pollfd watched[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
        if (poll(watched, 2, MsLeft(deadline)) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (*fds[i] < 0 || !(watched[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(*fds[i], buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                close(*fds[i]);
                *fds[i] = -1;
            }
        }
    }
    Reap(FPid, result, deadline);
    FPid = -1;
    return result;
}

TCliResult RunCli(const std::vector<std::string>& arguments, const TEnvironment& environment, const TChildSetup& setup)
{
    return TCliChild(arguments, environment, setup).Wait();
}

// ------------------------------------------------------------ on a terminal

TTerminalChild::TTerminalChild(const std::vector<std::string>& arguments, const TEnvironment& environment)
{
    TExecVectors vectors(arguments, environment);
    FPid = forkpty(&FMaster, nullptr, nullptr, nullptr);
    if (FPid == 0) {
        execve(vectors.Argv[0], vectors.Argv.data(), vectors.Envp.data());
        _exit(127);
    }
    if (FMaster >= 0) fcntl(FMaster, F_SETFD, FD_CLOEXEC);
}

TTerminalChild::~TTerminalChild()
{
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    if (FMaster >= 0) close(FMaster);
}

bool TTerminalChild::ReadSome(int timeoutMs)
{
    if (FMaster < 0) return false;
    pollfd watched = {FMaster, POLLIN, 0};
    const int ready = poll(&watched, 1, timeoutMs);
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return true;
    char buffer[4096];
    const ssize_t n = read(FMaster, buffer, sizeof buffer);
    if (n > 0) {
        FShown.append(buffer, size_t(n));
        return true;
    }
    if (n < 0 && errno == EINTR) return true;
    // EIO: every descriptor of the terminal's other side is closed.
    return false;
}

bool TTerminalChild::WaitFor(const std::string& text, int timeoutMs)
{
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t found = FShown.find(text, FMatchedUpTo);
        if (found != std::string::npos) {
            FMatchedUpTo = found + text.size();
            return true;
        }
        if (MsLeft(deadline) == 0 || !ReadSome(MsLeft(deadline))) return false;
    }
}

void TTerminalChild::Type(const std::string& keys)
{
    [[maybe_unused]] const ssize_t n = write(FMaster, keys.data(), keys.size());
}

TCliResult TTerminalChild::Wait(int timeoutMs)
{
    TCliResult result;
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    while (MsLeft(deadline) > 0 && ReadSome(MsLeft(deadline))) {}
    Reap(FPid, result, deadline);
    FPid = -1;
    result.Out = FShown;
    return result;
}
