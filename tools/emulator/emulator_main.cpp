// tarvel60x-emulator: the emulated reader on a pseudo-terminal, driven by one
// text command per line on standard input; every command gets one answer line.
#include "emulated_reader.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  char c = 's';
  ssize_t r = ::write(signalPipe[1], &c, 1);
  (void)r;
}

void say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

const char* kUsage =
    "usage: tarvel60x-emulator --link PATH [--receiver [--paired]] [--polls N] [--serial S]\n"
    "                          [--split-pause MS] [--delay MS]\n";

const char* kHelp =
    "commands: press [force] | fevent [LENGTH] [force] | tag [pc=HEX] epc=HEX [tid=HEX] [user=HEX] | tag | notag"
    " | mode normal|silent|refuse|garbage|split|event | state | frames | clear | discard | unplug | replug | quit";

bool parseInt(const char* text, int& value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno || !end || *end || end == text || v < 0 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

std::string stateLine(const Emulator::EmulatedReader& reader) {
  Emulator::ReaderState s = reader.state();
  std::ostringstream o;
  o << "state mode=" << Emulator::faultModeName(reader.mode()) << " tag=" << (reader.hasTag() ? 1 : 0)
    << " events=" << s.eventsEnabled << " host=" << s.hostMode << " epc2usb=" << s.epc2Usb
    << " volume=" << s.buzzerVolume << " alarm=" << s.buzzerAlarm << " goodreadbeep=" << s.goodReadBeep
    << " frequency=" << s.goodReadFrequency << " duration=" << s.goodReadDuration
    << " vibration=" << s.vibrationEnabled << " vibrationduration=" << s.vibrationDuration
    << " target=" << (s.target3610.empty() ? "-" : s.target3610) << " polls=" << s.connectionPolls
    << " connected=" << s.receiverConnected << " modeswitches=" << s.modeSwitches
    << " resets=" << s.factoryResets << " testbeeps=" << s.testBeeps << " keepalives=" << s.keepAlives
    << " writes=" << s.tagWrites << " frames=" << s.framesReceived << " rejected=" << s.rejectedFrames
    << " junk=" << s.junkBytes << " answers=" << s.answersSent << " eventssent=" << s.eventsSent;
  return o.str();
}

std::string tagLine(const Emulator::EmulatedReader& reader) {
  if (!reader.hasTag()) return "tag none";
  Emulator::Tag t = reader.tag();
  return "tag pc=" + t.pc + " epc=" + t.epc + " tid=" + t.tid + " user=" + t.user;
}

// A PC for an EPC of the given hex length: the length field says how many
// 16-bit words the EPC has, and the user-memory bit whether the tag has any.
std::string pcFor(size_t epcHexLength, bool hasUser) {
  unsigned words = static_cast<unsigned>((epcHexLength / 2 + 1) / 2);
  char text[8];
  std::snprintf(text, sizeof text, "%04X", ((words & 0x1Fu) << 11) | (hasUser ? 0x0400u : 0u));
  return text;
}

// Runs one command line; returns false when the program should end.
bool runCommand(Emulator::EmulatedReader& reader, const std::string& line, std::chrono::steady_clock::time_point t0) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return true;
  const std::string& cmd = words[0];
  bool force = words.size() > 1 && words.back() == "force";

  if (cmd == "quit" || cmd == "exit") {
    say("ok quit");
    return false;
  }
  if (cmd == "help") {
    say(kHelp);
  } else if (cmd == "press") {
    if (!reader.running()) say("error unplugged");
    else if (reader.press(force)) say("ok press");
    else say("error events disabled (press force sends anyway)");
  } else if (cmd == "fevent") {
    int length = 18;
    if (words.size() > 1 && words[1] != "force" && (!parseInt(words[1].c_str(), length) || length < 16 || length > 259)) {
      say("error length must be 16..259");
    } else if (!reader.running()) {
      say("error unplugged");
    } else if (reader.sendFEvent(static_cast<size_t>(length), force)) {
      say("ok fevent");
    } else {
      say("error events disabled (fevent force sends anyway)");
    }
  } else if (cmd == "tag" && words.size() == 1) {
    say(tagLine(reader));
  } else if (cmd == "tag") {
    Emulator::Tag t;
    bool pcGiven = false;
    for (size_t i = 1; i < words.size(); ++i) {
      size_t eq = words[i].find('=');
      std::string key = words[i].substr(0, eq), value = eq == std::string::npos ? "" : words[i].substr(eq + 1);
      if (eq == std::string::npos) { say("error expected key=value: " + words[i]); return true; }
      if (key == "pc") { t.pc = value; pcGiven = true; }
      else if (key == "epc") t.epc = value;
      else if (key == "tid") t.tid = value;
      else if (key == "user") t.user = value;
      else { say("error unknown key: " + key); return true; }
    }
    if (!pcGiven) t.pc = pcFor(t.epc.size(), !t.user.empty());
    if (reader.setTag(t)) say("ok " + tagLine(reader));
    else say("error tag values must be even-length hex, pc four digits");
  } else if (cmd == "notag") {
    reader.clearTag();
    say("ok notag");
  } else if (cmd == "mode") {
    Emulator::FaultMode m;
    if (words.size() == 2 && Emulator::parseFaultMode(words[1], m)) {
      reader.setMode(m);
      say(std::string("ok mode ") + Emulator::faultModeName(m));
    } else {
      say("error mode normal|silent|refuse|garbage|split|event");
    }
  } else if (cmd == "state") {
    say(stateLine(reader));
  } else if (cmd == "frames") {
    std::vector<Emulator::ReceivedFrame> frames = reader.frames();
    say("frames " + std::to_string(frames.size()));
    for (const auto& f : frames) {
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "%.3f",
                    std::chrono::duration<double>(f.time - t0).count());
      say(std::string(stamp) + " " + Emulator::EmulatedReader::toHex(f.bytes, true));
    }
  } else if (cmd == "clear") {
    reader.clearFrames();
    say("ok clear");
  } else if (cmd == "discard") {
    reader.discardPending();
    say("ok discard");
  } else if (cmd == "unplug") {
    reader.unplug();
    say("ok unplug");
  } else if (cmd == "replug") {
    if (reader.running()) say("error still plugged in");
    else if (reader.start()) say("ok replug " + reader.devicePath());
    else say("error cannot create the pseudo-terminal or the link");
  } else {
    say("error unknown command: " + cmd + " (try help)");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Emulator::Options options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--link" && hasValue) options.linkPath = argv[++i];
    else if (a == "--receiver") options.receiver = true;
    else if (a == "--polls" && hasValue && parseInt(argv[i + 1], options.pollsBeforeConnect)) ++i;
    else if (a == "--serial" && hasValue) options.serial = argv[++i];
    else if (a == "--paired") options.paired = true;
    else if (a == "--split-pause" && hasValue && parseInt(argv[i + 1], options.splitPauseMs)) ++i;
    else if (a == "--delay" && hasValue && parseInt(argv[i + 1], options.answerDelayMs)) ++i;
    else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "tarvel60x-emulator: bad argument '%s'\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (options.linkPath.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  if (::pipe(signalPipe) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Emulator::EmulatedReader reader(options);
  if (!reader.start()) {
    std::fprintf(stderr, "tarvel60x-emulator: cannot create the pseudo-terminal or the link %s: %s\n",
                 options.linkPath.c_str(), std::strerror(errno));
    return 1;
  }
  auto t0 = std::chrono::steady_clock::now();
  say("ready " + options.linkPath + " -> " + reader.devicePath() + (options.receiver ? " (3610 receiver)" : ""));

  std::string pending;
  bool go = true;
  while (go) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    if (!fds[0].revents) continue;
    char buffer[1024];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // End of input: a last line without a line feed still counts.
      if (!pending.empty()) runCommand(reader, pending, t0);
      break;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t nl; go && (nl = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      go = runCommand(reader, line, t0);
    }
  }
  reader.stop();
  return 0;
}
