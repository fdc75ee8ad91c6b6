// The tarvel60x-emulator program driven through pipes, as an integrator's
// script drives it: commands on standard input, one answer line each.
#include "driver_side.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <vector>

extern char** environ;

using test::hex;

namespace {

class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    args.insert(args.begin(), T60_EMULATOR_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, T60_EMULATOR_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }
  ~Program() {
    closeInput();
    if (fromChild_ >= 0) ::close(fromChild_);
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return pid_ > 0; }

  void sendLine(const std::string& line) {
    std::string l = line + "\n";
    ASSERT_EQ(::write(toChild_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
  }

  // The next output line; empty at end of output or after the time.
  std::string readLine(int timeoutMs = 3000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fromChild_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::string();
      char chunk[1024];
      ssize_t n = ::read(fromChild_, chunk, sizeof chunk);
      if (n <= 0) return std::string();
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  std::string command(const std::string& line) {
    sendLine(line);
    return readLine();
  }

  void closeInput() {
    if (toChild_ >= 0) ::close(toChild_);
    toChild_ = -1;
  }

  // Reads the rest of the output until the program closes it, then its status.
  int waitExit() {
    while (!readLine(5000).empty()) {
    }
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int toChild_ = -1, fromChild_ = -1;
  std::string buffer_;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/t60-emulator-program-XXXXXX";
    const char* d = mkdtemp(tmpl);
    ASSERT_NE(d, nullptr);
    dir = d;
    link = dir + "/reader";
  }
  void TearDown() override {
    ::unlink(link.c_str());
    ::rmdir(dir.c_str());
  }
  bool linkExists() const {
    struct stat st {};
    return lstat(link.c_str(), &st) == 0;
  }

  std::string dir, link;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ProgramTest, AnswersEachCommandAndEndsOnQuit) {
  Program p({"--link", link});
  ASSERT_TRUE(p.started());
  std::string ready = p.readLine();
  EXPECT_TRUE(contains(ready, "ready " + link + " -> /dev/pts/")) << ready;
  ASSERT_TRUE(linkExists());

  EXPECT_EQ(p.command("tag epc=E2000017220B0123456789AB tid=E20034120123456789ABCDEF user=0A1B2C3D"),
            "ok tag pc=3400 epc=E2000017220B0123456789AB tid=E20034120123456789ABCDEF user=0A1B2C3D");
  EXPECT_EQ(p.command("tag pc=3000 epc=E2000017220B0123456789AB"),
            "ok tag pc=3000 epc=E2000017220B0123456789AB tid= user=");
  EXPECT_TRUE(contains(p.command("tag epc=XYZ"), "error"));
  EXPECT_EQ(p.command("tag pc=3400 epc=E2000017220B0123456789AB tid=E20034120123456789ABCDEF user=0A1B2C3D"),
            "ok tag pc=3400 epc=E2000017220B0123456789AB tid=E20034120123456789ABCDEF user=0A1B2C3D");
  EXPECT_TRUE(contains(p.command("press"), "error"));  // events are off

  test::DriverSide line(link);
  ASSERT_TRUE(line.ok());
  std::string answer = line.exchange(hex("5A 07 01 09 20 02 67 01 FF 65 7E"));
  EXPECT_EQ(test::toHex(answer.substr(3, 3)), "19 20 00");
  EXPECT_EQ(p.command("press"), "ok press");
  EXPECT_EQ(line.readFrame()[12], 'N');
  EXPECT_EQ(p.command("fevent 19"), "ok fevent");
  EXPECT_EQ(line.readFrame().size(), 19u);

  EXPECT_EQ(p.command("mode refuse"), "ok mode refuse");
  answer = line.exchange(hex("5A 04 01 01 01 FF F9 7E"));
  EXPECT_EQ(test::toHex(answer.substr(3, 3)), "11 01 01");
  EXPECT_TRUE(contains(p.command("mode sideways"), "error"));

  std::string state = p.command("state");
  for (const char* part : {"mode=refuse", "tag=1", "events=1", "frames=2", "keepalives=0"})
    EXPECT_TRUE(contains(state, part)) << part << " in " << state;

  EXPECT_EQ(p.command("frames"), "frames 2");
  EXPECT_TRUE(contains(p.readLine(), "5A 07 01 09 20 02 67 01 FF 65 7E"));
  EXPECT_TRUE(contains(p.readLine(), "5A 04 01 01 01 FF F9 7E"));

  EXPECT_EQ(p.command("notag"), "ok notag");
  EXPECT_EQ(p.command("tag"), "tag none");
  EXPECT_TRUE(contains(p.command("launch"), "error unknown command"));
  EXPECT_EQ(p.command("unplug"), "ok unplug");
  EXPECT_FALSE(linkExists());
  EXPECT_TRUE(contains(p.command("press force"), "error"));
  EXPECT_TRUE(contains(p.command("replug"), "ok replug /dev/pts/"));
  test::DriverSide again(link);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(test::toHex(again.exchange(hex("5A 04 01 01 01 FF F9 7E")).substr(3, 3)), "11 01 01");  // still refusing
  EXPECT_EQ(p.command("quit"), "ok quit");
  EXPECT_EQ(p.waitExit(), 0);
  EXPECT_FALSE(linkExists());
}

TEST_F(ProgramTest, ReceiverModeAndEndOfInput) {
  Program p({"--link", link, "--receiver", "--polls", "1", "--serial", "123456789"});
  ASSERT_TRUE(p.started());
  EXPECT_TRUE(contains(p.readLine(), "ready"));
  test::DriverSide line(link);
  ASSERT_TRUE(line.ok());
  line.exchange(hex("5A 0E 01 0A 04 01 31 32 33 34 35 36 37 38 39 FE 05 7E"));
  EXPECT_LE(line.exchange(hex("5A 04 01 02 06 FF F3 7E")).size(), 24u);
  EXPECT_GT(line.exchange(hex("5A 04 01 02 06 FF F3 7E")).size(), 24u);
  std::string state = p.command("state");
  EXPECT_TRUE(contains(state, "target=123456789")) << state;
  EXPECT_TRUE(contains(state, "connected=1")) << state;

  p.closeInput();
  EXPECT_EQ(p.waitExit(), 0);
  EXPECT_FALSE(linkExists());
}

TEST_F(ProgramTest, RefusesBadArguments) {
  for (std::vector<std::string> args : {std::vector<std::string>{}, std::vector<std::string>{"--polls", "x", "--link", "/tmp/x"},
                                        std::vector<std::string>{"--link"}, std::vector<std::string>{"--colour"}}) {
    Program p(args);
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.waitExit(), 2);
  }
}

}  // namespace
