// The unitsim program: its options, its output, run after run, a clean stop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "hostline.h"

extern char** environ;

namespace {

// The program started with its output on a pipe.
class TProgram {
public:
    explicit TProgram(std::vector<std::string> arguments)
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        arguments.insert(arguments.begin(), UNITSIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int error = posix_spawn(&FPid, UNITSIM_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        FOutput = pipeFds[0];
        if (error != 0) throw std::runtime_error("cannot start " UNITSIM_PROGRAM);
    }

    ~TProgram()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        ::close(FOutput);
    }

    // The rest of the first unread line that starts with prefix, waiting up
    // to timeoutMs; the lines before it count as read.
    std::string LineStartingWith(const std::string& prefix, int timeoutMs = 3000)
    {
        return NextLine(prefix, true, timeoutMs);
    }
    // True once an unread line containing the text has come.
    bool LineContaining(const std::string& text, int timeoutMs = 3000)
    {
        return NextLine(text, false, timeoutMs).rfind("(no line", 0) != 0;
    }

    // Stops the program with the signal; returns its exit code (-1: no clean exit).
    int Stop(int signal)
    {
        ::kill(FPid, signal);
        return Wait();
    }

    int Wait()
    {
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
        while (ReadMore(std::chrono::steady_clock::now() + std::chrono::milliseconds(200))) {}
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Text() const { return FText; }

private:
    std::string NextLine(const std::string& text, bool atStart, int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t start = FRead;
            for (size_t end; (end = FText.find('\n', start)) != std::string::npos; start = end + 1) {
                const std::string line = FText.substr(start, end - start);
                const size_t at = line.find(text);
                if (at != std::string::npos && (!atStart || at == 0)) {
                    FRead = end + 1;
                    return line.substr(at + text.size());
                }
            }
            if (!ReadMore(deadline)) return "(no line \"" + text + "\" in: " + FText.substr(FRead) + ")";
        }
    }

    bool ReadMore(std::chrono::steady_clock::time_point deadline)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fd{FOutput, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(FOutput, buffer, sizeof buffer);
        if (n <= 0) return false;
        FText.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t FPid = -1;
    int FOutput = -1;
    std::string FText;
    size_t FRead = 0; // FText up to here has been looked through
};

std::string TempFolder(const char* name)
{
    return "/tmp/unitsim-program-test-" + std::to_string(::getpid()) + "-" + name;
}

TEST(Program, HelpDocumentsEveryOption)
{
    TProgram program({"--help"});
    EXPECT_EQ(program.Wait(), 0);
    for (const char* text : {"--type", "--seed", "--boot-only", "--reset-after", "--pace", "--erase-ms", "--fault",
                             "--link", "--verbose", "--speed-reply", "--connect-rate", "--name", "KIND@PHASE", "hangup",
                             "read-block", "program-close", "wrong-size", "SIGUSR1"})
        EXPECT_NE(program.Text().find(text), std::string::npos) << text;
}

TEST(Program, RefusesBadOptionsWithAMessage)
{
    TProgram type({"--type", "15"});
    EXPECT_EQ(type.Wait(), 2);
    EXPECT_NE(type.Text().find("bad value \"15\" for --type"), std::string::npos) << type.Text();

    TProgram fault({"--fault", "loud@erase"});
    EXPECT_EQ(fault.Wait(), 2);
    EXPECT_NE(fault.Text().find("unknown fault kind \"loud\""), std::string::npos) << fault.Text();

    TProgram extra({"stray"});
    EXPECT_EQ(extra.Wait(), 2);
}

TEST(Program, ServesRunAfterRunThroughItsLinkAndRemovesItAtTheEnd)
{
    const std::string folder = TempFolder("runs");
    const std::string link = folder + "/Morvex-7100";
    TProgram program({"--type", "5", "--boot-only", "--reset-after", "1", "--link", link, "--verbose"});
    const std::string port = program.LineStartingWith("Port: ");
    EXPECT_EQ(program.LineStartingWith("Link: "), link);
    ASSERT_EQ(std::filesystem::read_symlink(link).string(), port);

    for (int run = 0; run < 2; ++run) {
        THostLine host(link);
        EXPECT_TRUE(host.Transact(Bytes("SwItChUp"), 8, 150).empty()) << "run " << run;
        ASSERT_EQ(host.Transact(Bytes("SwItChUp"), 8), Bytes("SwItChUp")) << "run " << run;
        ASSERT_EQ(host.ChangeSpeed(57600), Bytes("ABCDE"));
        EXPECT_EQ(host.TransactScrambled(Bytes("IDEN"), 40).size(), 40u);
        host.SendScrambled(Bytes("RSET"));
        // The verbose transcript shows the reset before the next run starts.
        EXPECT_TRUE(program.LineContaining("host -> unit  reset"));
        EXPECT_TRUE(program.LineContaining("firmware runs (reset by the host)"));
    }

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(folder);
}

TEST(Program, PlugsInAgainAfterAHangUpFault)
{
    TProgram program({"--fault", "hangup@identity"});
    const std::string first = program.LineStartingWith("Port: ");
    {
        THostLine host(first);
        ASSERT_TRUE(host.LinkUp(Concat({{0x02}, Bytes("PF1010"), {0x03}}), 19200));
        host.SendScrambled(Bytes("IDEN"));
        EXPECT_TRUE(host.WaitHangUp(2000));
    }
    const std::string second = program.LineStartingWith("Port: ");
    ASSERT_EQ(second.rfind("/dev/pts/", 0), 0u) << second;
    THostLine host(second);
    EXPECT_EQ(host.Transact(Concat({{0x02}, Bytes("PF1010"), {0x03}}), 8), Bytes("SwItChUp"));
    EXPECT_EQ(program.Stop(SIGINT), 0);
}

} // namespace
