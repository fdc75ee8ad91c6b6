// Helpers for the debug log tests: a scratch directory, reading a file, and
// splitting log text into its parts (level, time of day, scope, message).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <ftw.h>
#include <unistd.h>

struct LogLine {
    char level;
    std::string time;
    std::string scope;
    std::string message;
};

// Splits one line "L[time][scope] message" into its parts.
inline bool parseLogLine(const std::string& raw, LogLine& line) {
    if (raw.size() < 2 || raw[1] != '[')
        return false;
    const std::size_t timeEnd = raw.find("][", 2);
    if (timeEnd == std::string::npos)
        return false;
    const std::size_t scopeEnd = raw.find("] ", timeEnd + 2);
    if (scopeEnd == std::string::npos)
        return false;
    line.level = raw[0];
    line.time = raw.substr(2, timeEnd - 2);
    line.scope = raw.substr(timeEnd + 2, scopeEnd - timeEnd - 2);
    line.message = raw.substr(scopeEnd + 2);
    return true;
}

// Splits text into log lines; a line that does not have the log's form is
// a test failure.
inline std::vector<LogLine> parseLog(const std::string& text) {
    std::vector<LogLine> lines;
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
        LogLine line;
        if (!parseLogLine(raw, line)) {
            ADD_FAILURE() << "not a log line: \"" << raw.substr(0, 200) << "\"";
            continue;
        }
        lines.push_back(line);
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "last line not ended";
    return lines;
}

// The seconds of an exit line "= in S.SSS sec. =" (three decimals exactly),
// or a negative value when the text has another form.
inline double exitLineSeconds(const std::string& message) {
    const std::string head = "= in ";
    const std::string tail = " sec. =";
    if (message.size() < head.size() + tail.size() + 5 || message.compare(0, head.size(), head) != 0 ||
        message.compare(message.size() - tail.size(), tail.size(), tail) != 0)
        return -1.0;
    const std::string number = message.substr(head.size(), message.size() - head.size() - tail.size());
    const std::size_t point = number.find('.');
    if (point == std::string::npos || point == 0 || number.size() - point - 1 != 3 ||
        number.find_first_not_of("0123456789.") != std::string::npos)
        return -1.0;
    return std::stod(number);
}

// True for a time of day of the form HH:MM:SS.
inline bool isClockTime(const std::string& text) {
    static const char form[] = "00:00:00";
    if (text.size() != sizeof form - 1)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (form[i] == ':' ? text[i] != ':' : !digit)
            return false;
    }
    return true;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// A private directory under /tmp, removed with its content at the end.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/t60-support-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr)
            ADD_FAILURE() << "mkdtemp failed";
        else
            m_path = made;
    }
    ~ScratchDir() {
        if (!m_path.empty())
            nftw(m_path.c_str(), &removeEntry, 8, FTW_DEPTH | FTW_PHYS);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    static int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
        std::remove(path);
        return 0;
    }
    std::string m_path;
};
