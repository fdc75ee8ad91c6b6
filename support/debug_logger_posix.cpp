// POSIX form of the debug log's platform part: the log lives in /tmp, and it
// is opened so that nothing planted at its path by another user (a symbolic
// link, a pipe, a device, a file of theirs) is ever followed or written.
#include "support/debug_logger_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace DebugLoggerNameSpace {
namespace platform {

namespace {

// Opens path with the given flags, refusing a symbolic link as the last
// component (O_NOFOLLOW), anything that is not a regular file, and a file
// that another user owns: a log file planted in the shared /tmp by someone
// else would hand them every traced line (tag data and reader addresses).
// O_NONBLOCK keeps the open of a planted pipe from waiting for a reader; it
// has no effect on regular files. Returns -1 on refusal or failure.
int openOwnLogFile(const char* path, int flags) {
    const int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool tempFilePath(char* path, std::size_t size, const char* fileName) {
    const int length = std::snprintf(path, size, "%s%s", "/tmp/", fileName);
    if (length < 0 || static_cast<std::size_t>(length) >= size) {
        path[0] = '\0';
        return false;
    }
    return true;
}

void truncateLogFile(const char* path) {
    // Emptied only once it is known to be our own regular file: O_TRUNC at
    // the open would empty a refused file too.
    const int fd = openOwnLogFile(path, O_RDWR | O_CREAT);
    if (fd < 0)
        return;
    const int ignored = ftruncate(fd, 0);
    (void)ignored;
    close(fd);
}

std::FILE* openLogFileForAppend(const char* path) {
    const int fd = openOwnLogFile(path, O_RDWR | O_CREAT | O_APPEND);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "a+");
    if (file == nullptr)
        close(fd);
    return file;
}

void formatTimeOfDay(char* text, std::size_t size) {
    text[0] = '\0';
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return;
    if (std::strftime(text, size, "%X", &local) == 0)
        text[0] = '\0';
}

}  // namespace platform
}  // namespace DebugLoggerNameSpace
