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
    const int handle = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (handle < 0) return "Cannot open the log " + path + " for appending: " + std::strerror(errno);
    FFile = std::make_unique<TLogFile>();
    FFile->Handle = handle;
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
