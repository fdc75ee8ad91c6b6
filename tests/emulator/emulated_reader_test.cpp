// The emulated reader driven through its pseudo-terminal with plain POSIX I/O:
// frames, answers byte for byte, the tag, events, fault modes, the 3610 receiver.
#include "emulated_reader.h"
#include "driver_side.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <thread>

using Emulator::EmulatedReader;
using Emulator::FaultMode;
using test::byteAt;
using test::hex;

namespace {

const std::string kKeepAlive = hex("5A 04 01 09 05 FF ED 7E");
const std::string kGetInfo = hex("5A 04 01 01 01 FF F9 7E");
const std::string kEventsOn = hex("5A 07 01 09 20 02 67 01 FF 65 7E");
const std::string kEventsOff = hex("5A 07 01 09 20 02 67 00 FF 66 7E");
const std::string kReadEpc = hex("5A 05 01 0B 36 01 FF B8 7E");
const std::string kTarget = hex("5A 0E 01 0A 04 01 31 32 33 34 35 36 37 38 39 FE 05 7E");
const std::string kPoll = hex("5A 04 01 02 06 FF F3 7E");
const std::string kModeSwitch = hex("5A 14 01 0A 06 60 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 FF 7B 7E");

const char* kPc = "3400";
const char* kEpc = "E2000017220B0123456789AB";
const char* kTid = "E20034120123456789ABCDEF";
const char* kUser = "0A1B2C3D";

Emulator::Tag sampleTag() { return Emulator::Tag{kPc, kEpc, kTid, kUser}; }

// The selection the user-memory read and the writes carry: PC and EPC bytes.
std::string selection(const std::string& pc, const std::string& epc) { return hex(pc + epc); }

std::string readUserMemFrame(const std::string& pc, const std::string& epc) {
  std::string p = selection(pc, epc);
  std::string body = hex("01 0B 32 00 00 00 00 00");
  body.push_back(static_cast<char>(p.size()));
  return test::frame(body + p + hex("03 00 00 00 00 03"));
}

// bank 1: EPC, 3: user memory. dataBytes may hold one byte more than the
// length byte says (an odd-length data text).
std::string writeFrame(int bank, const std::string& pc, const std::string& epc, size_t lengthByte,
                       const std::string& dataBytes) {
  std::string p = selection(pc, epc);
  std::string body = hex("01 0B 33 00 00 00 00 00");
  body.push_back(static_cast<char>(p.size() + 2));
  body += p;
  body += bank == 1 ? hex("00 00 01 00 04 00") : hex("00 00 03 00 00 00");
  body.push_back(static_cast<char>(lengthByte));
  return test::frame(body + dataBytes + std::string(1, '\0'));
}

std::string hexOf(const std::string& bytes, size_t from, size_t count, bool lower) {
  static const char up[] = "0123456789ABCDEF", low[] = "0123456789abcdef";
  const char* d = lower ? low : up;
  std::string out;
  for (size_t i = from; i < from + count; ++i) {
    out.push_back(d[byteAt(bytes, i) >> 4]);
    out.push_back(d[byteAt(bytes, i) & 15]);
  }
  return out;
}

// Reads a tag-data answer at its offsets: L at 14, PC at 15-16, EPC and two
// further bytes from 17, T at 16 + L, the TID from 17 + L.
struct ParsedTag {
  bool ok = false;
  std::string pc, epc, tid;
};

ParsedTag parseTagData(const std::string& f) {
  ParsedTag t;
  if (f.size() <= 19 || byteAt(f, 3) != 0x3B || byteAt(f, 4) != 0x36) return t;
  size_t l = byteAt(f, 14);
  if (l < 4 || 17 + l > f.size()) return t;
  size_t tidLength = byteAt(f, 16 + l);
  if (17 + l + tidLength > f.size()) return t;
  t.pc = hexOf(f, 15, 2, true);
  t.epc = hexOf(f, 17, l - 4, false);
  t.tid = hexOf(f, 17 + l, tidLength, false);
  t.ok = true;
  return t;
}

std::string makeTempDir() {
  char tmpl[] = "/tmp/t60-emulator-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  return dir ? dir : "";
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { open(Emulator::Options()); }

  void open(const Emulator::Options& options) {
    line.reset();
    reader.reset(new EmulatedReader(options));
    ASSERT_TRUE(reader->start());
    line.reset(new test::DriverSide(reader->devicePath()));
    ASSERT_TRUE(line->ok());
  }

  // The answer's reply kind, command code and status.
  static std::string kcs(const std::string& answer) {
    if (answer.size() < 6) return "short:" + test::toHex(answer);
    return hexOf(answer, 3, 3, false);
  }

  std::unique_ptr<EmulatedReader> reader;
  std::unique_ptr<test::DriverSide> line;
};

TEST_F(ReaderTest, KeepAliveIsCountedAndNotAnswered) {
  ASSERT_TRUE(line->send(kKeepAlive));
  ASSERT_TRUE(reader->waitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(reader->frames()[0].bytes, kKeepAlive);
  EXPECT_EQ(line->readQuiet(300), "");
  EXPECT_EQ(reader->state().keepAlives, 1);
  EXPECT_EQ(reader->state().rejectedFrames, 0u);
}

TEST_F(ReaderTest, EveryCommandGetsTheAnswerTheEngineChecksAndChangesTheSettings) {
  struct Case {
    const char* name;
    const char* frame;
    const char* kindCodeStatus;
  } cases[] = {
      {"getInfo", "5A 04 01 01 01 FF F9 7E", "110100"},
      {"testBeep first", "5A 0A 01 09 08 03 01 01 01 00 01 FF DD 7E", "190800"},
      {"testBeep second", "5A 0A 01 09 08 03 01 00 01 00 01 FF DE 7E", "190800"},
      {"setBuzzerConfig(3, true, false)", "5A 0A 01 09 08 03 01 00 00 00 01 FF DF 7E", "190800"},
      {"setGoodReadConfig(2, 1)", "5A 06 01 09 09 02 01 FF E4 7E", "190900"},
      {"setVibratorConfig(true, 10)", "5A 06 01 09 0B 01 0A FF DA 7E", "190B00"},
      {"enableEvents", "5A 07 01 09 20 02 67 01 FF 65 7E", "192000"},
      {"enableHostMode", "5A 05 01 0B 30 01 FF BE 7E", "3B3000"},
      {"epc2Usb", "5A 05 01 0C 0A 01 FF E3 7E", "1C0A00"},
      {"unknown command", "5A 04 01 09 7F FF 73 7E", "197F01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test::checksumOk(hex(c.frame)));
    std::string answer = line->exchange(hex(c.frame));
    EXPECT_TRUE(test::checksumOk(answer)) << test::toHex(answer);
    EXPECT_EQ(kcs(answer), c.kindCodeStatus);
  }
  Emulator::ReaderState s = reader->state();
  EXPECT_EQ(s.buzzerVolume, 3);
  EXPECT_TRUE(s.buzzerAlarm);
  EXPECT_FALSE(s.goodReadBeep);
  EXPECT_EQ(s.testBeeps, 1);
  EXPECT_EQ(s.goodReadFrequency, 2);
  EXPECT_EQ(s.goodReadDuration, 1);
  EXPECT_TRUE(s.vibrationEnabled);
  EXPECT_EQ(s.vibrationDuration, 10);
  EXPECT_TRUE(s.eventsEnabled);
  EXPECT_TRUE(s.hostMode);
  EXPECT_TRUE(s.epc2Usb);

  EXPECT_EQ(kcs(line->exchange(hex("5A 06 01 09 10 00 00 FF E0 7E"))), "191000");
  s = reader->state();
  EXPECT_EQ(s.factoryResets, 1);
  EXPECT_TRUE(s.goodReadBeep);
  EXPECT_FALSE(s.vibrationEnabled);
  EXPECT_FALSE(s.eventsEnabled);
  EXPECT_EQ(s.goodReadFrequency, 0);
  EXPECT_EQ(reader->frameCount(), 11u);
}

TEST_F(ReaderTest, TagDataAndUserMemoryAnswersParseAtTheirOffsets) {
  ASSERT_TRUE(reader->setTag(sampleTag()));
  std::string answer = line->exchange(kReadEpc);
  ASSERT_TRUE(test::checksumOk(answer)) << test::toHex(answer);
  EXPECT_GT(answer.size(), 19u);
  EXPECT_EQ(kcs(answer), "3B3600");
  EXPECT_EQ(byteAt(answer, 14), 16u);  // 2 + 12 EPC bytes + 2
  ParsedTag t = parseTagData(answer);
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(t.pc, "3400");
  EXPECT_EQ(t.epc, kEpc);
  EXPECT_EQ(t.tid, kTid);

  std::string request = readUserMemFrame(kPc, kEpc);
  ASSERT_EQ(byteAt(request, 1), 30u);  // count 14, LEN 30
  answer = line->exchange(request);
  ASSERT_TRUE(test::checksumOk(answer)) << test::toHex(answer);
  EXPECT_GT(answer.size(), 19u);
  EXPECT_EQ(kcs(answer), "3B3200");
  EXPECT_NE(byteAt(answer, 1), 5u);
  ASSERT_EQ(byteAt(answer, 6), 4u);
  EXPECT_EQ(hexOf(answer, 7, 4, false), kUser);

  // A tag with no user memory still gives a frame longer than 19 bytes.
  ASSERT_TRUE(reader->setTag(Emulator::Tag{kPc, kEpc, kTid, ""}));
  answer = line->exchange(request);
  EXPECT_GT(answer.size(), 19u);
  EXPECT_EQ(byteAt(answer, 6), 0u);
}

TEST_F(ReaderTest, ReadsFindNothingWithoutATagOrWithAnotherSelection) {
  // No tag: the tag-data answer is refused and too short to be taken for data;
  // the user-memory answer is the data-less one of length 5.
  std::string answer = line->exchange(kReadEpc);
  EXPECT_LE(answer.size(), 19u);
  EXPECT_EQ(hexOf(answer, 3, 2, false), "3B36");
  EXPECT_NE(byteAt(answer, 5), 0u);
  answer = line->exchange(readUserMemFrame(kPc, kEpc));
  EXPECT_EQ(byteAt(answer, 1), 5u);

  ASSERT_TRUE(reader->setTag(sampleTag()));
  answer = line->exchange(readUserMemFrame(kPc, "E2000017220B0123456789AC"));
  EXPECT_EQ(byteAt(answer, 1), 5u);
}

TEST_F(ReaderTest, WritesChangeTheTagOnlyWhenTheSelectionMatches) {
  struct Case {
    const char* name;
    int bank;
    const char* selectEpc;
    size_t lengthByte;
    const char* data;
    unsigned status;
    const char* epcAfter;
    const char* userAfter;
  } cases[] = {
      {"user memory", 3, kEpc, 2, "01 02", 0, kEpc, "01022C3D"},
      {"odd data text: the length byte counts", 3, kEpc, 1, "AB 0C", 0, kEpc, "AB1B2C3D"},
      {"user memory beyond its end", 3, kEpc, 6, "11 22 33 44 55 66", 0, kEpc, "112233445566"},
      {"EPC bank", 1, kEpc, 12, "30 14 00 00 00 00 00 00 00 00 00 01", 0, "301400000000000000000001", kUser},
      {"another EPC", 3, "E2000017220B0123456789AC", 2, "01 02", 1, kEpc, kUser},
      {"another EPC, EPC bank", 1, "E2000017220B01234567", 2, "01 02", 1, kEpc, kUser},
      {"data longer than sent", 3, kEpc, 4, "01 02", 1, kEpc, kUser},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(reader->setTag(sampleTag()));
    std::string answer = line->exchange(writeFrame(c.bank, kPc, c.selectEpc, c.lengthByte, hex(c.data)));
    ASSERT_TRUE(test::checksumOk(answer)) << test::toHex(answer);
    EXPECT_EQ(byteAt(answer, 4), 0x33u);
    EXPECT_EQ(byteAt(answer, 5), c.status);
    EXPECT_EQ(reader->tag().epc, c.epcAfter);
    EXPECT_EQ(reader->tag().user, c.userAfter);
  }

  // What was written is what the next read reports.
  ASSERT_TRUE(reader->setTag(sampleTag()));
  const std::string newEpc = "112233445566778899AABBCC";
  ASSERT_EQ(byteAt(line->exchange(writeFrame(1, kPc, kEpc, 12, hex(newEpc))), 5), 0u);
  ParsedTag t = parseTagData(line->exchange(kReadEpc));
  EXPECT_EQ(t.epc, newEpc);
  EXPECT_EQ(t.tid, kTid);

  reader->clearTag();
  EXPECT_EQ(byteAt(line->exchange(writeFrame(3, kPc, newEpc, 2, hex("0102"))), 5), 1u);
}

TEST_F(ReaderTest, RejectsBadTagValues) {
  for (Emulator::Tag bad : {Emulator::Tag{"34", kEpc, kTid, ""}, Emulator::Tag{kPc, "E2000", kTid, ""},
                            Emulator::Tag{kPc, kEpc, "XY", ""}, Emulator::Tag{kPc, kEpc, kTid, std::string(600, 'A')}}) {
    EXPECT_FALSE(reader->setTag(bad)) << bad.pc << " " << bad.epc << " " << bad.tid;
  }
  EXPECT_FALSE(reader->hasTag());
  ASSERT_TRUE(reader->setTag(Emulator::Tag{"3400", "e2000017220b0123456789ab", kTid, ""}));
  EXPECT_EQ(reader->tag().epc, kEpc);  // kept in uppercase
}

TEST_F(ReaderTest, ScannerSkipsJunkAndBadFramesAndReassemblesSplitOnes) {
  // Junk, a bad checksum, a bad end byte, a stray start byte with a large
  // length, then a good frame: only the good one is taken and answered.
  std::string noise = hex("00 11 7E 22") + hex("5A 04 01 01 01 FF F8 7E") + hex("5A 04 01 01 01 FF F9 7F") + hex("5A FF");
  ASSERT_TRUE(line->send(noise + kGetInfo));
  EXPECT_EQ(kcs(line->readFrame()), "110100");
  Emulator::ReaderState s = reader->state();
  EXPECT_EQ(s.framesReceived, 1u);
  EXPECT_EQ(s.rejectedFrames, 3u);
  EXPECT_EQ(s.junkBytes, 4u + 7u + 7u + 1u);

  // A frame in pieces, with pauses between them.
  for (size_t cut : {size_t(1), size_t(2), size_t(5), kEventsOn.size() - 1}) {
    SCOPED_TRACE(cut);
    ASSERT_TRUE(line->send(kEventsOn.substr(0, cut)));
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    ASSERT_TRUE(line->send(kEventsOn.substr(cut)));
    EXPECT_EQ(kcs(line->readFrame()), "192000");
  }

  // Thousands of random bytes in odd chunks: no crash, and a good frame
  // after them is still answered.
  uint32_t seed = 12345;
  std::string random;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245u + 12345u;
    random.push_back(static_cast<char>(seed >> 16));
  }
  for (size_t at = 0; at < random.size(); at += 97) ASSERT_TRUE(line->send(random.substr(at, 97)));
  ASSERT_TRUE(line->send(kGetInfo));
  bool answered = false;
  for (std::string f; !answered && !(f = line->readFrame(3000)).empty();)
    answered = f == test::frame(hex("01 11 01 00") + "T60X EMU 1.0");
  EXPECT_TRUE(answered);
  EXPECT_TRUE(reader->running());
}

TEST_F(ReaderTest, EventsAreSentOnlyWhileEnabledUnlessForced) {
  EXPECT_FALSE(reader->press());
  EXPECT_FALSE(reader->sendFEvent());
  EXPECT_EQ(line->readQuiet(200), "");

  ASSERT_EQ(kcs(line->exchange(kEventsOn)), "192000");
  ASSERT_TRUE(reader->press());
  std::string press = line->readFrame();
  EXPECT_TRUE(test::checksumOk(press));
  EXPECT_GE(press.size(), 17u);
  EXPECT_EQ(hexOf(press, 3, 2, false), "2C09");
  EXPECT_EQ(press[12], 'N');

  ASSERT_TRUE(reader->sendFEvent(20));
  std::string f = line->readFrame();
  EXPECT_TRUE(test::checksumOk(f));
  EXPECT_EQ(f.size(), 20u);
  EXPECT_EQ(f[12], 'F');
  EXPECT_FALSE(reader->sendEvent('F', 15));  // too short to carry the kind

  ASSERT_EQ(kcs(line->exchange(kEventsOff)), "192000");
  EXPECT_FALSE(reader->press());
  ASSERT_TRUE(reader->press(true));
  EXPECT_EQ(line->readFrame()[12], 'N');
  EXPECT_EQ(reader->state().eventsSent, 3u);
}

TEST_F(ReaderTest, FaultModesThatIgnoreTheCommand) {
  for (FaultMode mode : {FaultMode::Silent, FaultMode::Refuse, FaultMode::Garbage}) {
    SCOPED_TRACE(Emulator::faultModeName(mode));
    reader->setMode(mode);
    ASSERT_TRUE(line->send(kEventsOn));
    std::string got = line->readQuiet(300);
    if (mode == FaultMode::Silent) {
      EXPECT_EQ(got, "");
    } else if (mode == FaultMode::Refuse) {
      EXPECT_EQ(kcs(got), "192001");
    } else {
      ASSERT_GE(got.size(), 6u);
      EXPECT_EQ(got.find('\x5A'), std::string::npos);
      EXPECT_NE(byteAt(got, 5), 0u);
    }
    EXPECT_FALSE(reader->state().eventsEnabled);
  }
  EXPECT_EQ(reader->frameCount(), 3u);
  reader->setMode(FaultMode::Normal);
  EXPECT_EQ(kcs(line->exchange(kEventsOn)), "192000");
}

TEST_F(ReaderTest, EventBeforeAnswerAndSplitAnswers) {
  reader->setMode(FaultMode::EventBeforeAnswer);
  ASSERT_TRUE(line->send(kGetInfo));
  std::string event = line->readFrame();
  EXPECT_EQ(hexOf(event, 3, 2, false), "2C09");
  EXPECT_EQ(event[12], 'N');
  EXPECT_EQ(kcs(line->readFrame()), "110100");

  Emulator::Options options;
  options.splitPauseMs = 400;
  open(options);
  reader->setMode(FaultMode::Split);
  ASSERT_TRUE(line->send(kGetInfo));
  std::string whole = test::frame(hex("01 11 01 00") + "T60X EMU 1.0");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  ASSERT_TRUE(line->fill(deadline));
  auto firstPiece = std::chrono::steady_clock::now();
  std::string answer = line->readFrame(3000);
  auto gap = std::chrono::steady_clock::now() - firstPiece;
  EXPECT_EQ(answer, whole);
  EXPECT_GE(gap, std::chrono::milliseconds(200));  // the pause lies between the pieces
}

TEST_F(ReaderTest, ReceiverPairsAfterTheConfiguredPolls) {
  Emulator::Options options;
  options.receiver = true;
  options.pollsBeforeConnect = 2;
  options.serial = "123456789";
  open(options);

  // No reader behind the receiver yet: reader commands go unanswered.
  ASSERT_TRUE(line->send(kGetInfo));
  EXPECT_EQ(line->readQuiet(300), "");

  EXPECT_EQ(kcs(line->exchange(kTarget)), "1A0400");
  EXPECT_EQ(reader->state().target3610, "123456789");
  for (int poll = 1; poll <= 3; ++poll) {
    SCOPED_TRACE(poll);
    std::string answer = line->exchange(kPoll);
    EXPECT_TRUE(test::checksumOk(answer));
    EXPECT_EQ(byteAt(answer, 3), 0x12u);
    if (poll <= 2) {
      EXPECT_LE(answer.size(), 24u);
    } else {
      EXPECT_GT(answer.size(), 24u);
      EXPECT_EQ(byteAt(answer, 5), 0u);
    }
  }
  EXPECT_TRUE(reader->state().receiverConnected);
  std::string answer = line->exchange(kModeSwitch);
  EXPECT_EQ(hexOf(answer, 3, 3, false), "1A0600");
  EXPECT_EQ(reader->state().modeSwitches, 1);
  EXPECT_EQ(kcs(line->exchange(kGetInfo)), "110100");  // now the reader answers

  // A target the receiver cannot reach never connects.
  open(options);
  std::string otherTarget = test::frame(hex("01 0A 04 01") + "987654321");
  EXPECT_EQ(kcs(line->exchange(otherTarget)), "1A0400");
  for (int poll = 0; poll < 5; ++poll) EXPECT_LE(line->exchange(kPoll).size(), 24u);
  EXPECT_FALSE(reader->state().receiverConnected);

  // A receiver paired earlier passes reader commands on at once.
  options.paired = true;
  open(options);
  EXPECT_EQ(kcs(line->exchange(kGetInfo)), "110100");
  EXPECT_GT(line->exchange(kPoll).size(), 24u);
}

TEST_F(ReaderTest, WaitsForFramesAndCommands) {
  EXPECT_FALSE(reader->waitForCommand(0x09, 0x20, std::chrono::milliseconds(100)));
  std::thread sender([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    line->send(kGetInfo + kEventsOn);
  });
  EXPECT_TRUE(reader->waitForCommand(0x09, 0x20, std::chrono::seconds(5)));
  sender.join();
  EXPECT_TRUE(reader->waitForFrames(2, std::chrono::seconds(1)));
  EXPECT_FALSE(reader->waitForCommand(0x01, 0x01, std::chrono::milliseconds(50), 1));
  std::vector<Emulator::ReceivedFrame> frames = reader->frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_LE(frames[0].time, frames[1].time);
  reader->clearFrames();
  EXPECT_EQ(reader->frameCount(), 0u);
}

TEST_F(ReaderTest, SurvivesTheDriverClosingItsSideWithoutSpinning) {
  line.reset();
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  getrusage(RUSAGE_SELF, &after);
  auto cpu = [](const rusage& r) {
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
  };
  EXPECT_LT(cpu(after) - cpu(before), 0.3);  // an idle reader waits, it does not poll

  // Bytes sent while nobody listened wait for the next opener, unless discarded.
  ASSERT_TRUE(reader->press(true));
  line.reset(new test::DriverSide(reader->devicePath()));
  EXPECT_EQ(line->readFrame()[12], 'N');
  line.reset();
  ASSERT_TRUE(reader->press(true));
  reader->discardPending();
  line.reset(new test::DriverSide(reader->devicePath()));
  EXPECT_EQ(line->readQuiet(200), "");
  EXPECT_EQ(kcs(line->exchange(kGetInfo)), "110100");
}

TEST_F(ReaderTest, UnplugMakesTheDeviceVanish) {
  std::string dir = makeTempDir();
  ASSERT_FALSE(dir.empty());
  Emulator::Options options;
  options.linkPath = dir + "/reader";
  open(options);
  struct stat st {};
  ASSERT_EQ(lstat(options.linkPath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(kcs(line->exchange(kGetInfo)), "110100");

  reader->unplug();
  EXPECT_FALSE(reader->running());
  EXPECT_EQ(reader->devicePath(), "");
  EXPECT_NE(lstat(options.linkPath.c_str(), &st), 0);
  line->send(kGetInfo);
  EXPECT_EQ(line->readFrame(1000), "");
  EXPECT_TRUE(line->hungUp());
  EXPECT_FALSE(reader->press(true));
  reader->unplug();  // a second time is harmless
  ::rmdir(dir.c_str());
}

}  // namespace
