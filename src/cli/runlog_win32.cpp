// The run log's file on Windows: opened by its Unicode name for appending
// only, shared with the other programmers of a bench that append to it too.
#include "cli/runlog.h"

#include <QString>
#include <windows.h>

// Appending programs take turns: the look at the file's last byte and the
// write after it are one step, under a lock on a byte far beyond any end
// the file will reach (Windows' byte-range locks bar writes into the range,
// so it must be one no record is written to). Without it two programs can
// both decide on the line end, and Wine places a write "at the end" by
// asking for the size first, so records of parallel runs overwrote each
// other there (2 of 600 in a test). EndsWithLineEnd takes the lock, the
// WriteLine that follows it in Append releases it.
struct TLogFile {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    bool Locked = false;
    ~TLogFile()
    {
        Unlock();
        if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
    }
    void Lock()
    {
        OVERLAPPED at = TurnByte();
        Locked = LockFileEx(Handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != FALSE;
    }
    void Unlock()
    {
        if (!Locked) return;
        OVERLAPPED at = TurnByte();
        UnlockFileEx(Handle, 0, 1, 0, &at);
        Locked = false;
    }
    static OVERLAPPED TurnByte()
    {
        OVERLAPPED at{};
        at.OffsetHigh = 0x40000000; // 2^62
        return at;
    }
};

namespace {
std::string SystemText(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    if (text) LocalFree(text);
    if (message.isEmpty()) message = QString("error %1").arg(error);
    return message.toStdString() + " (win error code: " + std::to_string(error) + ")";
}
}

TRunLog::TRunLog() = default;
TRunLog::~TRunLog() = default;

std::string TRunLog::Open(const std::string& path)
{
    FPath = path;
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file as it is at that moment, whoever else appends to it. Read
    // access only for the look at the last byte.
    const std::wstring name = QString::fromStdString(path).toStdWString();
    const HANDLE handle = CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return "Cannot open the log " + path + " for appending: " + SystemText(GetLastError());
    FFile = std::make_unique<TLogFile>();
    FFile->Handle = handle;
    return "";
}

std::string TRunLog::WriteLine(const QByteArray& line)
{
    // Both offsets all ones: at the end of the file as it is now, whatever
    // the handle's file pointer says (the look at the last byte moved it).
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    const BOOL wrote = WriteFile(FFile->Handle, line.constData(), DWORD(line.size()), &written, &atEnd);
    const DWORD error = GetLastError();
    FFile->Unlock();
    if (!wrote) return "Cannot append to the log " + FPath + ": " + SystemText(error);
    if (written != DWORD(line.size())) return "Cannot append to the log " + FPath + ": the line was cut short";
    return "";
}

bool TRunLog::EndsWithLineEnd()
{
    FFile->Lock();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(FFile->Handle, &size) || size.QuadPart == 0) return true;
    // A positioned read: the handle has no file pointer that matters, since
    // every write goes to the end anyway.
    OVERLAPPED at{};
    const ULONGLONG last = ULONGLONG(size.QuadPart) - 1;
    at.Offset = DWORD(last & 0xffffffffu);
    at.OffsetHigh = DWORD(last >> 32);
    char byte = 0;
    DWORD got = 0;
    if (!ReadFile(FFile->Handle, &byte, 1, &got, &at)) return true;
    return got != 1 || byte == '\n';
}
