// The run log's file on POSIX systems.
#include "cli/runlog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct TLogFile {
    int Handle = -1;
    ~TLogFile()
    {
        if (Handle >= 0) close(Handle);
    }
};

TRunLog::TRunLog() = default;
TRunLog::~TRunLog() = default;

std::string TRunLog::Open(const std::string& path)
{
    FPath = path;
    const std::string cannot = "Cannot open the log " + path + " for appending: ";
    // The log often sits in a folder the whole bench shares. A link there
    // could point the record at a file of someone else's choice, a FIFO
    // would block the open for good (before any signal could stop it), and
    // another user's file is theirs to fill or swap: none of them is a log.
    const int handle = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (handle < 0) {
        if (errno == ELOOP) return cannot + "it is a symbolic link";
        return cannot + std::strerror(errno);
    }
    auto file = std::make_unique<TLogFile>();
    file->Handle = handle;
    struct stat status {};
    if (fstat(handle, &status) != 0) return cannot + std::strerror(errno);
    if (!S_ISREG(status.st_mode)) return cannot + "it is not a regular file";
    if (status.st_uid != geteuid() && status.st_uid != 0) return cannot + "it belongs to another user";
    // Writes to a regular file never block anyway; the flag only had to
    // keep the open itself from waiting.
    const int flags = fcntl(handle, F_GETFL);
    if (flags < 0 || fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) != 0) return cannot + std::strerror(errno);
    FFile = std::move(file);
    return "";
}

std::string TRunLog::WriteLine(const QByteArray& line)
{
    // One write: with O_APPEND the kernel places the whole line at the end
    // of the file, whoever else is appending at the same moment.
    ssize_t written;
    do {
        written = write(FFile->Handle, line.constData(), size_t(line.size()));
    } while (written < 0 && errno == EINTR);
    if (written < 0) return "Cannot append to the log " + FPath + ": " + std::strerror(errno);
    if (written != line.size()) return "Cannot append to the log " + FPath + ": the line was cut short";
    return "";
}

bool TRunLog::EndsWithLineEnd()
{
    struct stat status {};
    if (fstat(FFile->Handle, &status) != 0 || status.st_size == 0) return true;
    char last = 0;
    ssize_t got;
    do {
        got = pread(FFile->Handle, &last, 1, status.st_size - 1);
    } while (got < 0 && errno == EINTR);
    return got != 1 || last == '\n';
}
