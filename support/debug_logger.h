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

    // Writes one whole line "<level>[<time of day>][<scope>] <text>\n".
    // Text longer than 16383 characters is cut to that length. In file mode
    // the file is opened, appended, flushed and closed for each line; a line
    // whose file cannot be opened is dropped, and so is one whose path names
    // a symbolic link, anything but a regular file, or a file of another
    // user. Never reports failure.
    void message(char level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Switch the process to file mode with this path and truncate the file
    // (once per process; later calls change nothing). A path longer than 259
    // characters is refused: file mode is entered and every line dropped.
    static void initToFile(const char* path);
    // Switch to file mode with a file of this name in the temporary directory.
    static void initToTempFile(const char* fileName);

private:
    const char* m_name;
    Timer m_timer;
};

}  // namespace DebugLoggerNameSpace
