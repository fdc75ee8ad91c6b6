// The debug log: line format in console and file mode, scope entry and exit
// lines, file-mode switching, a deleted log, refused planted paths, limits.
// Each case needs a fresh process (ctest runs them so): file mode is one-way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <stdexcept>

#include "log_lines.h"
#include "support/debug_logger.h"
#include "support/sleep.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

std::string timeOfDayNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[80];
    std::strftime(text, sizeof text, "%X", &local);
    return text;
}

// A traced exchange with every level the system uses, written between two
// readings of the local time of day.
struct SampleTrace {
    std::string before;
    std::string after;
};

SampleTrace writeSampleTrace() {
    SampleTrace trace;
    trace.before = timeOfDayNow();
    {
        DebugLogger log("sendCommand");
        log.message(' ', "Command size: %i", 8);
        log.message('E', "Port %s open fail", "/dev/ttyUSB0");
        log.message('!', "Unknown param \"%s\"", "Buzzer");
    }
    trace.after = timeOfDayNow();
    return trace;
}

void expectSampleTrace(const std::string& text, const SampleTrace& trace) {
    const std::vector<LogLine> lines = parseLog(text);
    ASSERT_EQ(lines.size(), 5u) << text;
    const struct {
        char level;
        const char* message;
    } expected[] = {
        {'>', "=================="},
        {' ', "Command size: 8"},
        {'E', "Port /dev/ttyUSB0 open fail"},
        {'!', "Unknown param \"Buzzer\""},
        {'<', nullptr},
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i].level, expected[i].level);
        EXPECT_EQ(lines[i].scope, "sendCommand");
        if (expected[i].message != nullptr) {
            EXPECT_EQ(lines[i].message, expected[i].message);
        }
        // The local time of day in the locale's form (HH:MM:SS in "C").
        EXPECT_TRUE(isClockTime(lines[i].time)) << lines[i].time;
        EXPECT_TRUE(lines[i].time == trace.before || lines[i].time == trace.after ||
                    (trace.before < lines[i].time && lines[i].time < trace.after))
            << lines[i].time << " not within " << trace.before << " .. " << trace.after;
    }
    EXPECT_GE(exitLineSeconds(lines[4].message), 0.0) << lines[4].message;
}

// A zone far from UTC, so that a time printed in UTC instead of local time
// shows (a POSIX zone string needs no zone database).
void useFarTimeZone() {
    setenv("TZ", "T60-5", 1);
    tzset();
}

class DebugLoggerTest : public ::testing::Test {
protected:
    ScratchDir dir;
};

TEST_F(DebugLoggerTest, ConsoleModeWritesTheLogLineFormatToStandardOutput) {
    useFarTimeZone();
    testing::internal::CaptureStdout();
    const SampleTrace trace = writeSampleTrace();
    expectSampleTrace(testing::internal::GetCapturedStdout(), trace);
}

TEST_F(DebugLoggerTest, FileModeWritesTheSameFormatToTheFileOnly) {
    useFarTimeZone();
    const std::string path = dir.file("driver_debug.log");
    DebugLogger::initToFile(path.c_str());
    testing::internal::CaptureStdout();
    const SampleTrace trace = writeSampleTrace();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    expectSampleTrace(readFile(path), trace);
}

TEST_F(DebugLoggerTest, ScopesNestAndExitOnExceptions) {
    testing::internal::CaptureStdout();
    try {
        DebugLogger outer("Open");
        sleepMilliseconds(300);
        {
            DebugLogger inner("openPort");
            inner.message('E', "Connection error: %i", 5);
            throw std::runtime_error("left by an exception");
        }
    } catch (const std::runtime_error&) {
    }
    // An empty scope shorter than half a millisecond reads 0.000; a busy
    // machine may stretch one, so a few are tried.
    for (int i = 0; i < 20; ++i)
        DebugLogger empty("GetVersion");

    const std::vector<LogLine> lines = parseLog(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), 5u + 40u);
    const struct {
        char level;
        const char* scope;
    } order[] = {{'>', "Open"}, {'>', "openPort"}, {'E', "openPort"}, {'<', "openPort"}, {'<', "Open"}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines[i].level, order[i].level) << i;
        EXPECT_EQ(lines[i].scope, order[i].scope) << i;
    }
    // The outer scope's exit line carries its time with three decimals.
    const double spent = exitLineSeconds(lines[4].message);
    EXPECT_GE(spent, 0.29);
    EXPECT_LT(spent, 60.0);

    bool zero = false;
    for (std::size_t i = 5; i < lines.size(); i += 2) {
        EXPECT_EQ(lines[i].level, '>');
        EXPECT_EQ(lines[i].message, "==================");
        EXPECT_EQ(lines[i + 1].level, '<');
        EXPECT_EQ(lines[i + 1].scope, "GetVersion");
        zero = zero || lines[i + 1].message == "= in 0.000 sec. =";
    }
    EXPECT_TRUE(zero) << "no empty scope read = in 0.000 sec. =";
}

TEST_F(DebugLoggerTest, FirstInitTruncatesAndLaterInitsChangeNothing) {
    const std::string path = dir.file("first.log");
    const std::string other = dir.file("second.log");
    writeFile(path, "left from an earlier run\n");

    DebugLogger::initToFile(path.c_str());
    EXPECT_TRUE(exists(path));
    EXPECT_EQ(readFile(path), "");
    { DebugLogger log("Tarvel60x"); }

    // A second driver object of the same process.
    DebugLogger::initToFile(other.c_str());
    DebugLogger::initToTempFile("t60-support-never_debug.log");
    EXPECT_FALSE(exists(other));
    EXPECT_FALSE(exists("/tmp/t60-support-never_debug.log"));
    { DebugLogger log("Tarvel60x"); }

    const std::vector<LogLine> lines = parseLog(readFile(path));
    EXPECT_EQ(lines.size(), 4u);
}

TEST_F(DebugLoggerTest, TempFileIsNamedInTmp) {
    const std::string name = "t60-support-" + std::to_string(getpid()) + "_debug.log";
    const std::string path = "/tmp/" + name;
    writeFile(path, "stale\n");
    DebugLogger::initToTempFile(name.c_str());
    EXPECT_EQ(readFile(path), "");
    { DebugLogger("Tarvel60x").message(' ', "%s", "to the temporary file"); }
    const std::vector<LogLine> lines = parseLog(readFile(path));
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].message, "to the temporary file");
}

TEST_F(DebugLoggerTest, DeletedLogIsRecreatedByTheNextLine) {
    const std::string path = dir.file("driver.log");
    DebugLogger::initToFile(path.c_str());
    DebugLogger log("worker");
    log.message(' ', "before");
    ASSERT_EQ(unlink(path.c_str()), 0);
    log.message(' ', "after");
    const std::vector<LogLine> lines = parseLog(readFile(path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "after");
}

// Another local user may plant a link or a pipe at the log's fixed path in
// the shared /tmp. The log must neither write through it nor create a link's
// target; the line is dropped, and the next line after the plant is gone
// recreates the log.
TEST_F(DebugLoggerTest, PlantedEntriesAtTheLogPathAreNeverWritten) {
    const std::string path = dir.file("driver.log");
    const std::string victim = dir.file("victim");
    const std::string missing = dir.file("missing");
    const std::string pipe = dir.file("pipe");
    writeFile(victim, "precious\n");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int pipeReader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(pipeReader, 0);

    DebugLogger::initToFile(path.c_str());
    DebugLogger log("worker");
    struct Plant {
        const char* what;
        std::function<void()> make;
    };
    const Plant plants[] = {
        {"link to an existing file", [&] { ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0); }},
        {"link to a missing file", [&] { ASSERT_EQ(symlink(missing.c_str(), path.c_str()), 0); }},
        {"named pipe", [&] { ASSERT_EQ(rename(pipe.c_str(), path.c_str()), 0); }},
    };
    for (const Plant& plant : plants) {
        SCOPED_TRACE(plant.what);
        std::remove(path.c_str());
        plant.make();
        log.message(' ', "must not arrive");
        std::remove(path.c_str());
        log.message(' ', "after the plant");
        const std::vector<LogLine> lines = parseLog(readFile(path));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].message, "after the plant");
    }
    EXPECT_EQ(readFile(victim), "precious\n");
    EXPECT_FALSE(exists(missing));
    // Nothing was written into the pipe (end of file or no data yet).
    char byte;
    EXPECT_LE(read(pipeReader, &byte, 1), 0);
    close(pipeReader);
}

TEST_F(DebugLoggerTest, LinkPlantedBeforeInitIsNeitherTruncatedNorWritten) {
    const std::string path = dir.file("driver.log");
    const std::string victim = dir.file("victim");
    writeFile(victim, "precious\n");
    ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);

    DebugLogger::initToFile(path.c_str());
    testing::internal::CaptureStdout();
    { DebugLogger log("Tarvel60x"); }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(readFile(victim), "precious\n");
    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// A writable file that another user left at the log path would collect every
// traced line for them: it is neither emptied at the switch to file mode nor
// written; once it is gone the log is created as usual.
TEST_F(DebugLoggerTest, FileOfAnotherUserIsNeitherTruncatedNorWritten) {
    if (geteuid() != 0)
        GTEST_SKIP() << "making a file of another user needs root";
    const std::string path = dir.file("driver.log");
    writeFile(path, "theirs\n");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);

    DebugLogger::initToFile(path.c_str());
    testing::internal::CaptureStdout();
    { DebugLogger log("Tarvel60x"); }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(readFile(path), "theirs\n");

    std::remove(path.c_str());
    { DebugLogger log("Tarvel60x"); }
    EXPECT_EQ(parseLog(readFile(path)).size(), 2u);
}

TEST_F(DebugLoggerTest, OverlongMessageIsCutToTheBuffer) {
    const std::string longText(20000, 'x');
    testing::internal::CaptureStdout();
    DebugLogger("worker").message(' ', "%s", longText.c_str());
    const std::vector<LogLine> lines = parseLog(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].message, std::string(16383, 'x'));
}

TEST_F(DebugLoggerTest, OverlongPathIsRefusedNotCut) {
    // 259 characters fit; the 260th would be cut off, naming another file.
    std::string path = dir.file("");
    path += std::string(259 - path.size(), 'a');
    const std::string cutPath = path;
    path += "b";
    DebugLogger::initToFile(path.c_str());
    testing::internal::CaptureStdout();
    { DebugLogger log("Tarvel60x"); }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(exists(cutPath));
}

}  // namespace
