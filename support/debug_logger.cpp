// DebugLogger: the scope logger and the process-wide line writer shared by
// every platform; the file location and opening are in the platform form.
#include "support/debug_logger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "support/debug_logger_platform.h"
#include "support/mutex.h"

namespace DebugLoggerNameSpace {

namespace {

// Longest log path: 259 characters and the terminating zero.
constexpr std::size_t kFileNameSize = 260;
// Longest formatted message: 16383 characters and the terminating zero;
// longer text is cut at that length.
constexpr std::size_t kBufferSize = 16384;
constexpr std::size_t kTimeSize = 80;

bool s_writeToFile = false;
char s_fileName[kFileNameSize];
char s_buffer[kBufferSize];

// Serialises whole lines across all threads. Created on first use (the
// language makes that thread-safe) and never destroyed, so that threads
// still logging while the process exits find it.
Mutex& lineLock() {
    static Mutex* const instance = new Mutex;
    return *instance;
}

}  // namespace

DebugLogger::DebugLogger(const char* name) : m_name(name != nullptr ? name : "") {
    m_timer.restart();
    message('>', "%s", "==================");
}

DebugLogger::~DebugLogger() {
    message('<', "= in %.3f sec. =", m_timer.elapsed());
}

void DebugLogger::message(char level, const char* format, ...) {
    MutexLock lock(lineLock());

    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(s_buffer, kBufferSize, format != nullptr ? format : "", arguments);
    va_end(arguments);
    if (length < 0)
        s_buffer[0] = '\0';

    char timeOfDay[kTimeSize];
    platform::formatTimeOfDay(timeOfDay, kTimeSize);

    if (s_writeToFile) {
        // Opened and closed for every line: each line is on disk when this
        // returns, and a deleted log is recreated by the next line. A file
        // that cannot be opened drops the line.
        std::FILE* file = platform::openLogFileForAppend(s_fileName);
        if (file == nullptr)
            return;
        std::fputc(level, file);
        std::fprintf(file, "[%s][%s] %s\n", timeOfDay, m_name, s_buffer);
        std::fflush(file);
        std::fclose(file);
    } else {
        std::fputc(level, stdout);
        std::fprintf(stdout, "[%s][%s] %s\n", timeOfDay, m_name, s_buffer);
        std::fflush(stdout);
    }
}

void DebugLogger::initToFile(const char* path) {
    // Under the line lock so that a line being written never sees the path
    // half copied.
    MutexLock lock(lineLock());
    if (s_writeToFile)
        return;
    std::memset(s_fileName, 0, kFileNameSize);
    // A path that does not fit is refused rather than cut (a cut path would
    // name some other file): file mode is entered without a file, and every
    // line is dropped as for a file that cannot be opened.
    if (path != nullptr && std::strlen(path) < kFileNameSize) {
        std::memcpy(s_fileName, path, std::strlen(path));
        platform::truncateLogFile(s_fileName);
    }
    s_writeToFile = true;
}

void DebugLogger::initToTempFile(const char* fileName) {
    {
        MutexLock lock(lineLock());
        if (s_writeToFile)
            return;
    }
    char path[kFileNameSize];
    platform::tempFilePath(path, kFileNameSize, fileName != nullptr ? fileName : "");
    initToFile(path);
}

}  // namespace DebugLoggerNameSpace
