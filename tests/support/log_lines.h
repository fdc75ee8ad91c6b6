// Helpers for the debug log tests: a scratch directory, reading a file, and
// splitting log text into its parts (level, time of day, scope, message).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
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

// Splits text into log lines; a line that does not have the log's form is
// a test failure.
inline std::vector<LogLine> parseLog(const std::string& text) {
    static const std::regex form(R"(^(.)\[([^\]]*)\]\[([^\]]*)\] (.*)$)");
    std::vector<LogLine> lines;
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
        std::smatch match;
        if (!std::regex_match(raw, match, form)) {
            ADD_FAILURE() << "not a log line: \"" << raw << "\"";
            continue;
        }
        lines.push_back({match[1].str()[0], match[2], match[3], match[4]});
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "last line not ended";
    return lines;
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
