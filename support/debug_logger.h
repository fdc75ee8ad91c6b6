// DebugLogger: the scope logger of the driver's diagnostic trace. A scope
// writes '>' on entry and '<' with the elapsed seconds on exit; messages
// carry a one-character level (' ', '!', 'E'). Lines go to standard output
// until the first driver object switches the process to its log file.
#pragma once

#include "support/timer.h"

namespace DebugLoggerNameSpace {

class DebugLogger {
public:
    // name must outlive the logger (a string literal in practice).
    explicit DebugLogger(const char* name);
    ~DebugLogger();
    DebugLogger(const DebugLogger&) = delete;
    DebugLogger& operator=(const DebugLogger&) = delete;

    void message(char level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Switch the process to file mode with this path (once per process).
    static void initToFile(const char* path);
    // Switch to file mode with a file of this name in the temporary directory.
    static void initToTempFile(const char* fileName);

private:
    const char* m_name;
    Timer m_timer;
};

}  // namespace DebugLoggerNameSpace
