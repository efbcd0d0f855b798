// The real morvex-flash-cli as a child process: with pipes for its output
// and no terminal (as a bench script runs it), or on a pseudo-terminal of
// its own (as an operator at a terminal runs it: stdin, stdout and stderr
// are the terminal, and typing Ctrl-C there interrupts it).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct TCliResult {
    int ExitCode = -1; // -1: killed by a signal or not ended in time
    bool TimedOut = false;
    std::string Out; // on a terminal: everything the terminal showed
    std::string Err;
};

// "KEY=VALUE" entries added to (or replacing those of) this process's environment.
using TEnvironment = std::vector<std::string>;

// How a child starts beyond its arguments and environment: the careless and
// unusual ways a bench script or a daemon may start the program.
struct TChildSetup {
    std::string OutputFile;             // standard output into this file, not the pipe ("": the pipe)
    bool StandardStreamsClosed = false; // descriptors 0, 1 and 2 closed (nothing is collected)
    std::vector<int> IgnoredSignals;    // inherited as ignored, as nohup or a trap '' leaves them
    long long FileSizeLimit = -1;       // ulimit -f, in bytes (-1: this process's own)
    bool CoreDumps = false;             // core files allowed, written into WorkingFolder
    std::string WorkingFolder;          // "": this process's own
};

class TCliChild {
public:
    // Standard input is /dev/null.
    explicit TCliChild(const std::vector<std::string>& arguments, const TEnvironment& environment = {},
                       const TChildSetup& setup = {});
    ~TCliChild(); // a child still running is killed
    TCliChild(const TCliChild&) = delete;
    TCliChild& operator=(const TCliChild&) = delete;

    pid_t Pid() const { return FPid; }
    void Signal(int signal) const;
    // Stops reading standard output, as a reader that went away.
    void CloseOutput();
    // Collects the output until the child has ended; a child that takes
    // longer is killed (a safety net against hangs, not a measurement).
    TCliResult Wait(int timeoutMs = 60000);

private:
    pid_t FPid = -1;
    int FOut = -1;
    int FErr = -1;
};

class TTerminalChild {
public:
    explicit TTerminalChild(const std::vector<std::string>& arguments, const TEnvironment& environment = {});
    ~TTerminalChild();
    TTerminalChild(const TTerminalChild&) = delete;
    TTerminalChild& operator=(const TTerminalChild&) = delete;

    // Reads what the terminal shows until text appears after the previous
    // match; false when the child ended or the time ran out first.
    bool WaitFor(const std::string& text, int timeoutMs = 30000);
    // Types on the terminal's keyboard.
    void Type(const std::string& keys);
    TCliResult Wait(int timeoutMs = 60000);
    const std::string& Shown() const { return FShown; }

private:
    // Reads what is there within the time; false once the terminal is gone.
    bool ReadSome(int timeoutMs);

    pid_t FPid = -1;
    int FMaster = -1;
    std::string FShown;
    size_t FMatchedUpTo = 0;
};

// Runs the program to its end without a terminal.
TCliResult RunCli(const std::vector<std::string>& arguments, const TEnvironment& environment = {},
                  const TChildSetup& setup = {});
