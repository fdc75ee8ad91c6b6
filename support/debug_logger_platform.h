// The platform part of the debug log: where the log file lives, how it is
// opened, and the local time of day printed in every line.
#pragma once

#include <cstddef>
#include <cstdio>

namespace DebugLoggerNameSpace {
namespace platform {

// Writes "<temporary directory><fileName>" into path (size bytes). Returns
// false, leaving path empty, when the result would not fit.
bool tempFilePath(char* path, std::size_t size, const char* fileName);

// Creates the log file or truncates it to empty. Fails without effect when
// the path names anything but a regular file of the process's own user (a
// symbolic link included).
void truncateLogFile(const char* path);

// Opens the log file for appending, creating it when missing. Returns null
// when the path names anything but a regular file of the process's own user
// (a symbolic link included) or cannot be opened.
std::FILE* openLogFileForAppend(const char* path);

// The local time of day in the locale's representation ("%X"); an empty
// text when it cannot be formatted.
void formatTimeOfDay(char* text, std::size_t size);

}  // namespace platform
}  // namespace DebugLoggerNameSpace
