// The debug log written from two threads at once: every line arrives whole.
#include <gtest/gtest.h>

#include <string>

#include "log_lines.h"
#include "support/debug_logger.h"
#include "support/thread.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

constexpr int kLinesPerThread = 300;

// Long lines make a torn or mixed line likely if writers were not serialised.
void writeLines(void* fill) {
    const std::string text(3000, *static_cast<char*>(fill));
    DebugLogger log("worker");
    for (int i = 0; i < kLinesPerThread; ++i)
        log.message(' ', "%s %i", text.c_str(), i);
}

TEST(DebugLoggerThreadsTest, TwoThreadsWriteWholeLines) {
    ScratchDir dir;
    const std::string path = dir.file("driver.log");
    DebugLogger::initToFile(path.c_str());

    char fillA = 'a';
    char fillB = 'b';
    Thread a(&writeLines, &fillA);
    Thread b(&writeLines, &fillB);
    a.join();
    b.join();

    const std::vector<LogLine> lines = parseLog(readFile(path));
    ASSERT_EQ(lines.size(), 2u * (kLinesPerThread + 2));
    int next[2] = {0, 0};
    for (const LogLine& line : lines) {
        if (line.level != ' ')
            continue;
        const char fill = line.message[0];
        ASSERT_TRUE(fill == 'a' || fill == 'b') << line.message.substr(0, 20);
        const int writer = fill == 'a' ? 0 : 1;
        // Each writer's lines arrive whole and in its own order.
        EXPECT_EQ(line.message, std::string(3000, fill) + " " + std::to_string(next[writer]));
        ++next[writer];
    }
    EXPECT_EQ(next[0], kLinesPerThread);
    EXPECT_EQ(next[1], kLinesPerThread);
}

}  // namespace
