// The operator's typing on POSIX systems: a line read from the terminal,
// with the interrupt pipe watched beside it.
#include "cli/terminaloperator.h"

#include "cli/interrupts.h"

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

bool IsTerminal(int descriptor) { return isatty(descriptor) == 1; }

// Every terminal emulator a POSIX system has speaks the escape.
bool TerminalClearsLines(int) { return true; }

int TerminalColumns(int descriptor)
{
    winsize size = {};
    return ioctl(descriptor, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

TTerminalOperator::TTyped TTerminalOperator::ReadLine(std::string& line)
{
    line.clear();
    for (;;) {
        pollfd watched[2] = {{FTerminal.In, POLLIN, 0}, {FInterrupts.ReadDescriptor(), POLLIN, 0}};
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return TTyped::EndOfInput;
        }
        if ((watched[1].revents & POLLIN) && FInterrupts.TakePending()) return TTyped::Interrupted;
        if (!(watched[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        // One byte at a time: what is typed after the line is the next answer's.
        char c = 0;
        const ssize_t count = read(FTerminal.In, &c, 1);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) return TTyped::EndOfInput;
        if (c == '\n') return TTyped::Line;
        line += c;
    }
}
