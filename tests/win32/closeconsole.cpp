// closeconsole: starts a program and, after a delay, closes its console as
// Windows does when the user closes the console window: the system starts
// a thread in the process at the console's control routine with
// CTRL_CLOSE_EVENT, and ends the process once the handlers return or the
// grace time is over, whichever comes first.
//
//   closeconsole.exe DELAY_MS PROGRAM [ARGUMENTS...]
//
// Exit status: 0 when the program ended, or its handler returned, within
// the grace time (what happened and when is printed), 90 when it was still
// running then, 91 when the program could not be started or signalled.
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {
constexpr DWORD GraceMs = 5000;

std::wstring Quoted(const wchar_t* argument) { return L"\"" + std::wstring(argument) + L"\""; }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: closeconsole DELAY_MS PROGRAM [ARGUMENTS...]\n");
        return 91;
    }
    const DWORD delay = DWORD(std::wcstoul(argv[1], nullptr, 10));
    std::wstring command = Quoted(argv[2]);
    for (int i = 3; i < argc; ++i) command += L" " + Quoted(argv[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "closeconsole: cannot start the program (win error code: %lu)\n", GetLastError());
        return 91;
    }
    if (WaitForSingleObject(child.hProcess, delay) == WAIT_OBJECT_0) {
        std::fprintf(stderr, "closeconsole: the program ended before the console was closed\n");
        return 91;
    }
    // The control routine sits at the same address in every process.
    const auto routine =
        reinterpret_cast<LPTHREAD_START_ROUTINE>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine"));
    HANDLE thread = routine ? CreateRemoteThread(child.hProcess, nullptr, 0, routine,
                                                 reinterpret_cast<void*>(uintptr_t(CTRL_CLOSE_EVENT)), 0, nullptr)
                            : nullptr;
    if (!thread) {
        std::fprintf(stderr, "closeconsole: cannot signal the program (win error code: %lu)\n", GetLastError());
        TerminateProcess(child.hProcess, 91);
        return 91;
    }
    const ULONGLONG closed = GetTickCount64();
    // Windows ends the process as soon as its handlers have returned, or
    // when the grace time is over: whatever the program has not done by
    // then is lost.
    HANDLE waits[] = {child.hProcess, thread};
    const DWORD first = WaitForMultipleObjects(2, waits, FALSE, GraceMs);
    const ULONGLONG took = GetTickCount64() - closed;
    if (first == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        std::fprintf(stderr, "closeconsole: the program ended %llu ms after the close, exit code %lu\n", took, code);
        return 0;
    }
    TerminateProcess(child.hProcess, 0xC000013A);
    if (first == WAIT_OBJECT_0 + 1) {
        std::fprintf(stderr, "closeconsole: the handler returned %llu ms after the close: program ended\n", took);
        return 0;
    }
    std::fprintf(stderr, "closeconsole: still running %llu ms after the close: program ended\n", took);
    return 90;
}
