// The operator's typing on Windows: a line read from the console. Ctrl-C
// ends a console read; the interrupt event then tells it from the end of
// the input.
#include "cli/terminaloperator.h"

#include "cli/interrupts.h"

#include <io.h>
#include <windows.h>

// A console, not a file, a pipe or the NUL device (which the C library
// also counts as a character device).
bool IsTerminal(int descriptor)
{
    const DWORD which = descriptor == 0 ? STD_INPUT_HANDLE : descriptor == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

bool TerminalClearsLines(int descriptor)
{
    const HANDLE console = GetStdHandle(descriptor == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    // A console before Windows 10's refuses the mode: the line is then
    // over-written with blanks instead, never shown an escape it prints.
    return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

int TerminalColumns(int descriptor)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(descriptor == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

TTerminalOperator::TTyped TTerminalOperator::ReadLine(std::string& line)
{
    line.clear();
    for (;;) {
        if (FInterrupts.TakePending()) return TTyped::Interrupted;
        // One byte at a time: what is typed after the line is the next answer's.
        char c = 0;
        const int count = _read(FTerminal.In, &c, 1);
        if (FInterrupts.TakePending()) return TTyped::Interrupted;
        if (count <= 0) return TTyped::EndOfInput;
        if (c == '\r') continue;
        if (c == '\n') return TTyped::Line;
        line += c;
    }
}
