// The emulated reader: the pseudo-terminal, the frame scanner, the command
// table and the answers a Tarvel 60x reader (or a 3610 receiver) gives.
#include "emulated_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Emulator {

namespace {

constexpr uint8_t kStart = 0x5A;
constexpr uint8_t kEnd = 0x7E;
constexpr size_t kMaxBody = 254;
// A frame that has begun but stays incomplete this long after its last byte
// is taken for junk, so that a stray start byte cannot block the line.
constexpr int kIncompleteFrameMs = 500;
// The scan buffer never grows beyond this; older bytes are dropped as junk.
constexpr size_t kMaxPending = 4096;
constexpr int kWriteWaitMs = 1000;
constexpr size_t kPressLength = 18;
// Reply kinds the reader uses: 0x3B for the tag group, group | 0x10 otherwise.
constexpr uint8_t kTagGroup = 0x0B;
constexpr uint8_t kEventKind = 0x2C;
constexpr uint8_t kEventCode = 0x09;

uint8_t replyKind(uint8_t group) { return group == kTagGroup ? 0x3B : static_cast<uint8_t>(group | 0x10); }

std::string bytesOf(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

std::string simpleAnswer(uint8_t group, uint8_t code, uint8_t status) {
  return EmulatedReader::buildFrame(bytesOf({0x01, replyKind(group), code, status}));
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strict: an even number of hex digits.
bool parseHex(const std::string& text, std::string& out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

// CRC-16 a tag backscatters after its PC and EPC (CCITT polynomial, preset
// 0xFFFF, complemented).
uint16_t tagCrc(const std::string& bytes) {
  uint16_t crc = 0xFFFF;
  for (unsigned char b : bytes) {
    crc ^= static_cast<uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return static_cast<uint16_t>(~crc);
}

std::string eventFrame(char kind, size_t length) {
  // length = LEN + 4 and the body is LEN - 1 bytes; offset 12 is body byte 10.
  std::string body(length - 5, '\0');
  body[0] = 0x01;
  body[1] = static_cast<char>(kEventKind);
  body[2] = static_cast<char>(kEventCode);
  body[10] = kind;
  return EmulatedReader::buildFrame(body);
}

// The tag as bytes, the form the commands work on.
struct TagBytes {
  std::string pc, epc, tid, user;
};

bool tagFits(const TagBytes& t) {
  // Tag-data answer body: 19 fixed bytes + EPC + TID; user answer body: 5 + data.
  return t.pc.size() == 2 && 19 + t.epc.size() + t.tid.size() <= kMaxBody && 5 + t.user.size() <= kMaxBody;
}

std::mutex& ptsnameMutex() {
  static std::mutex m;
  return m;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool setRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

const char* faultModeName(FaultMode mode) {
  switch (mode) {
    case FaultMode::Normal: return "normal";
    case FaultMode::Silent: return "silent";
    case FaultMode::Refuse: return "refuse";
    case FaultMode::Garbage: return "garbage";
    case FaultMode::Split: return "split";
    case FaultMode::EventBeforeAnswer: return "event";
  }
  return "normal";
}

bool parseFaultMode(const std::string& name, FaultMode& mode) {
  for (FaultMode m : {FaultMode::Normal, FaultMode::Silent, FaultMode::Refuse, FaultMode::Garbage,
                      FaultMode::Split, FaultMode::EventBeforeAnswer}) {
    if (name == faultModeName(m)) {
      mode = m;
      return true;
    }
  }
  return false;
}

struct EmulatedReader::Impl {
  explicit Impl(Options o) : options(std::move(o)) {
    if (options.receiver && options.paired) {
      state.target3610 = options.serial.empty() ? std::string("000000000") : options.serial;
      state.receiverConnected = true;
    }
  }

  Options options;

  // Guards everything below except the descriptors and the write path.
  mutable std::mutex mutex;
  std::condition_variable framesChanged;
  bool isRunning = false;
  std::string slavePath;
  bool tagPresent = false;
  TagBytes tag;
  FaultMode mode = FaultMode::Normal;
  ReaderState state;
  std::vector<ReceivedFrame> frames;
  uint32_t junkSeed = 0x6D2B79F5u;

  // Serialises every write to the terminal so that an event never lands
  // inside an answer (a split answer holds it across its pause).
  std::mutex writeMutex;
  int master = -1;
  int slave = -1;  // held open so the master never sees a hang-up
  int wake[2] = {-1, -1};
  std::thread service;

  // Scan buffer, used by the service thread only.
  std::string pending;
  std::chrono::steady_clock::time_point lastByte;

  bool writeAll(const std::string& bytes);
  bool writeAnswer(const std::string& bytes, FaultMode mode);
  void serviceLoop();
  void scan(bool stale);
  void handleFrame(const std::string& frame);
  std::string answerFor(const std::string& body, FaultMode mode);  // under mutex
  std::string readerAnswer(const std::string& body);               // under mutex
  std::string readTagData();
  std::string readUserMemory(const std::string& body);
  std::string writeTag(const std::string& body);
  std::string junk();
  void shutdown();
};

// ---- frames ---------------------------------------------------------------

uint16_t EmulatedReader::checksum(const std::string& lenAndBody) {
  uint32_t sum = 0;
  for (unsigned char b : lenAndBody) sum += b;
  return static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu));
}

std::string EmulatedReader::buildFrame(const std::string& body) {
  std::string lenAndBody;
  lenAndBody.push_back(static_cast<char>(std::min(body.size(), kMaxBody) + 1));
  lenAndBody.append(body, 0, kMaxBody);
  uint16_t sum = checksum(lenAndBody);
  std::string frame(1, static_cast<char>(kStart));
  frame += lenAndBody;
  frame.push_back(static_cast<char>(sum >> 8));
  frame.push_back(static_cast<char>(sum & 0xFF));
  frame.push_back(static_cast<char>(kEnd));
  return frame;
}

std::string EmulatedReader::toHex(const std::string& bytes, bool spaced) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i) out.push_back(' ');
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 0x0F]);
  }
  return out;
}

// ---- life -----------------------------------------------------------------

EmulatedReader::EmulatedReader(Options options) : impl_(new Impl(std::move(options))) {}

EmulatedReader::~EmulatedReader() { stop(); }

bool EmulatedReader::start() {
  Impl& d = *impl_;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.isRunning) return false;
  }
  if (d.service.joinable()) d.service.join();  // left by an unplug

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return false;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(ptsnameMutex());
    const char* name = (grantpt(master) == 0 && unlockpt(master) == 0) ? ptsname(master) : nullptr;
    if (name) path = name;
  }
  int slave = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY);
  int wake[2] = {-1, -1};
  bool ok = slave >= 0 && setRaw(slave) && ::pipe(wake) == 0;
  if (ok) {
    for (int fd : {master, slave, wake[0], wake[1]}) fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(wake[0], F_SETFL, fcntl(wake[0], F_GETFL) | O_NONBLOCK);
    fcntl(wake[1], F_SETFL, fcntl(wake[1], F_GETFL) | O_NONBLOCK);
  }
  if (ok && !d.options.linkPath.empty()) {
    // Replace a link left by an earlier run, never a file of another kind.
    struct stat st {};
    if (lstat(d.options.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(d.options.linkPath.c_str());
    ok = ::symlink(path.c_str(), d.options.linkPath.c_str()) == 0;
  }
  if (!ok) {
    closeFd(master);
    closeFd(slave);
    closeFd(wake[0]);
    closeFd(wake[1]);
    return false;
  }
  {
    std::lock_guard<std::mutex> wlock(d.writeMutex);
    d.master = master;
    d.slave = slave;
  }
  d.wake[0] = wake[0];
  d.wake[1] = wake[1];
  d.pending.clear();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.slavePath = path;
    d.isRunning = true;
  }
  d.service = std::thread([&d] { d.serviceLoop(); });
  return true;
}

void EmulatedReader::Impl::shutdown() {
  std::string ownPath;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!isRunning) return;
    isRunning = false;
    ownPath.swap(slavePath);
  }
  if (wake[1] >= 0) {
    char c = 'q';
    ssize_t r = ::write(wake[1], &c, 1);
    (void)r;
  }
  if (service.joinable()) service.join();
  {
    std::lock_guard<std::mutex> wlock(writeMutex);
    closeFd(master);
    closeFd(slave);
  }
  closeFd(wake[0]);
  closeFd(wake[1]);
  // Remove the link only while it still leads to this reader's terminal.
  if (!options.linkPath.empty()) {
    char target[256];
    ssize_t n = ::readlink(options.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == ownPath) ::unlink(options.linkPath.c_str());
  }
  framesChanged.notify_all();
}

void EmulatedReader::stop() { impl_->shutdown(); }

void EmulatedReader::unplug() { impl_->shutdown(); }

bool EmulatedReader::running() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->isRunning;
}

std::string EmulatedReader::devicePath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->slavePath;
}

void EmulatedReader::discardPending() {
  std::lock_guard<std::mutex> wlock(impl_->writeMutex);
  if (impl_->slave >= 0) tcflush(impl_->slave, TCIFLUSH);
}

// ---- the tag, the mode, the records ----------------------------------------

bool EmulatedReader::setTag(const Tag& tag) {
  TagBytes t;
  if (tag.pc.size() != 4 || !parseHex(tag.pc, t.pc) || !parseHex(tag.epc, t.epc) || !parseHex(tag.tid, t.tid) ||
      !parseHex(tag.user, t.user) || !tagFits(t))
    return false;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->tag = t;
  impl_->tagPresent = true;
  return true;
}

void EmulatedReader::clearTag() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->tagPresent = false;
  impl_->tag = TagBytes();
}

bool EmulatedReader::hasTag() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->tagPresent;
}

Tag EmulatedReader::tag() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Tag t;
  if (impl_->tagPresent) {
    t.pc = toHex(impl_->tag.pc);
    t.epc = toHex(impl_->tag.epc);
    t.tid = toHex(impl_->tag.tid);
    t.user = toHex(impl_->tag.user);
  }
  return t;
}

void EmulatedReader::setMode(FaultMode mode) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->mode = mode;
}

FaultMode EmulatedReader::mode() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->mode;
}

std::vector<ReceivedFrame> EmulatedReader::frames() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->frames;
}

size_t EmulatedReader::frameCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->frames.size();
}

void EmulatedReader::clearFrames() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->frames.clear();
}

bool EmulatedReader::waitForFrames(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->framesChanged.wait_for(lock, timeout, [&] { return impl_->frames.size() >= count; });
}

bool EmulatedReader::waitForCommand(uint8_t group, uint8_t code, std::chrono::milliseconds timeout,
                                    size_t fromIndex) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->framesChanged.wait_for(lock, timeout, [&] {
    for (size_t i = fromIndex; i < impl_->frames.size(); ++i)
      if (impl_->frames[i].group() == group && impl_->frames[i].code() == code) return true;
    return false;
  });
}

ReaderState EmulatedReader::state() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state;
}

// ---- writing --------------------------------------------------------------

bool EmulatedReader::Impl::writeAll(const std::string& bytes) {
  // Called with writeMutex held. The master is non-blocking: a side that
  // stops reading costs at most kWriteWaitMs, never a hung reader.
  size_t done = 0;
  while (done < bytes.size()) {
    if (master < 0) return false;
    ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd p{master, POLLOUT, 0};
    if (::poll(&p, 1, kWriteWaitMs) <= 0) return false;
  }
  return true;
}

bool EmulatedReader::Impl::writeAnswer(const std::string& bytes, FaultMode m) {
  std::lock_guard<std::mutex> wlock(writeMutex);
  if (m == FaultMode::Split && bytes.size() > 1) {
    size_t half = bytes.size() / 2;
    if (!writeAll(bytes.substr(0, half))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(options.splitPauseMs));
    return writeAll(bytes.substr(half));
  }
  return writeAll(bytes);
}

bool EmulatedReader::sendEvent(char kind, size_t length, bool force) {
  if (length < 16 || length > kMaxBody + 5) return false;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->isRunning || (!force && !impl_->state.eventsEnabled)) return false;
  }
  bool written;
  {
    std::lock_guard<std::mutex> wlock(impl_->writeMutex);
    written = impl_->writeAll(eventFrame(kind, length));
  }
  if (written) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    ++impl_->state.eventsSent;
  }
  return written;
}

bool EmulatedReader::press(bool force) { return sendEvent('N', kPressLength, force); }

bool EmulatedReader::sendFEvent(size_t length, bool force) { return sendEvent('F', length, force); }

bool EmulatedReader::sendRaw(const std::string& bytes) {
  std::lock_guard<std::mutex> wlock(impl_->writeMutex);
  return impl_->writeAll(bytes);
}

// ---- the service thread ---------------------------------------------------

void EmulatedReader::Impl::serviceLoop() {
  char buffer[512];
  for (;;) {
    pollfd fds[2] = {{wake[0], POLLIN, 0}, {master, POLLIN, 0}};
    int timeout = pending.empty() ? -1 : kIncompleteFrameMs;
    int r = ::poll(fds, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (r == 0) {
      scan(true);  // an incomplete frame went stale
      continue;
    }
    if (fds[1].revents & POLLIN) {
      ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) {
        pending.append(buffer, static_cast<size_t>(n));
        lastByte = std::chrono::steady_clock::now();
        scan(false);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    }
    // A hang-up or error on the master (not expected while the slave is held
    // open): wait for the stop signal only, so the loop never spins.
    pollfd w{wake[0], POLLIN, 0};
    if (::poll(&w, 1, 50) > 0) return;
  }
}

// Takes every complete frame off the front of the scan buffer. Bytes before
// a start byte are junk; a start byte whose frame fails its checksum or end
// byte is dropped alone so the scan resumes right after it. With stale set,
// an incomplete frame at the front is given up as junk.
void EmulatedReader::Impl::scan(bool stale) {
  size_t junkCount = 0, rejected = 0;
  if (pending.size() > kMaxPending) {
    junkCount += pending.size() - kMaxPending;
    pending.erase(0, pending.size() - kMaxPending);
  }
  std::vector<std::string> complete;
  for (;;) {
    size_t start = pending.find(static_cast<char>(kStart));
    if (start == std::string::npos) {
      junkCount += pending.size();
      pending.clear();
      break;
    }
    junkCount += start;
    pending.erase(0, start);
    if (pending.size() < 2) {
      if (stale) {
        ++junkCount;
        pending.clear();
      }
      break;
    }
    size_t len = static_cast<unsigned char>(pending[1]);
    size_t total = len + 4;
    if (len == 0) {
      ++rejected;
      pending.erase(0, 1);
      continue;
    }
    if (pending.size() < total) {
      // Incomplete: a real frame may still be coming, unless a later start
      // byte already begins a complete valid frame, or the line went quiet.
      bool later = false;
      for (size_t j = 1; j + 1 < pending.size() && !later; ++j) {
        if (static_cast<unsigned char>(pending[j]) != kStart) continue;
        size_t l = static_cast<unsigned char>(pending[j + 1]);
        if (l == 0 || j + l + 4 > pending.size()) continue;
        uint16_t sum = EmulatedReader::checksum(pending.substr(j + 1, l));
        later = static_cast<unsigned char>(pending[j + l + 1]) == (sum >> 8) &&
                static_cast<unsigned char>(pending[j + l + 2]) == (sum & 0xFF) &&
                static_cast<unsigned char>(pending[j + l + 3]) == kEnd;
      }
      if (later || stale) {
        ++rejected;
        pending.erase(0, 1);
        continue;
      }
      break;
    }
    uint16_t sum = EmulatedReader::checksum(pending.substr(1, len));
    bool valid = static_cast<unsigned char>(pending[len + 1]) == (sum >> 8) &&
                 static_cast<unsigned char>(pending[len + 2]) == (sum & 0xFF) &&
                 static_cast<unsigned char>(pending[len + 3]) == kEnd;
    if (!valid) {
      ++rejected;
      pending.erase(0, 1);
      continue;
    }
    complete.push_back(pending.substr(0, total));
    pending.erase(0, total);
  }
  if (junkCount || rejected) {
    std::lock_guard<std::mutex> lock(mutex);
    state.junkBytes += junkCount;
    state.rejectedFrames += rejected;
  }
  for (const std::string& frame : complete) handleFrame(frame);
}

void EmulatedReader::Impl::handleFrame(const std::string& frame) {
  std::string answer;
  FaultMode m;
  {
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back(ReceivedFrame{frame, std::chrono::steady_clock::now()});
    ++state.framesReceived;
    m = mode;
    answer = answerFor(frame.substr(2, frame.size() - 5), m);
  }
  framesChanged.notify_all();
  if (answer.empty()) return;
  if (options.answerDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options.answerDelayMs));
  if (writeAnswer(answer, m)) {
    std::lock_guard<std::mutex> lock(mutex);
    ++state.answersSent;
    if (m == FaultMode::EventBeforeAnswer) ++state.eventsSent;
  }
}

std::string EmulatedReader::Impl::junk() {
  // Bytes from 0x80 to 0xFF: never a start or end byte, never a reply kind,
  // an event kind or a zero status, so no check can take them for an answer.
  std::string out;
  for (int i = 0; i < 16; ++i) {
    junkSeed = junkSeed * 1664525u + 1013904223u;
    out.push_back(static_cast<char>(0x80 | (junkSeed >> 24)));
  }
  return out;
}

// Decides the answer to one frame body (empty: no answer) and applies the
// command to the emulated reader. Called with the mutex held.
std::string EmulatedReader::Impl::answerFor(const std::string& body, FaultMode m) {
  if (body.size() < 3 || static_cast<unsigned char>(body[0]) != 0x01) return std::string();
  uint8_t group = static_cast<uint8_t>(body[1]);
  uint8_t code = static_cast<uint8_t>(body[2]);
  // The keep-alive is only noted: it asks for no answer.
  if (group == 0x09 && code == 0x05) {
    ++state.keepAlives;
    return std::string();
  }
  bool receiverCommand = (group == 0x0A && (code == 0x04 || code == 0x06)) || (group == 0x02 && code == 0x06);
  // A receiver passes reader commands on only once it is connected to the reader.
  if (options.receiver && !receiverCommand && !state.receiverConnected) return std::string();
  switch (m) {
    case FaultMode::Silent: return std::string();
    case FaultMode::Refuse: return simpleAnswer(group, code, 1);
    case FaultMode::Garbage: return junk();
    default: break;
  }
  std::string answer = readerAnswer(body);
  if (m == FaultMode::EventBeforeAnswer && !answer.empty()) answer = eventFrame('N', kPressLength) + answer;
  return answer;
}

std::string EmulatedReader::Impl::readerAnswer(const std::string& body) {
  uint8_t group = static_cast<uint8_t>(body[1]);
  uint8_t code = static_cast<uint8_t>(body[2]);
  auto at = [&](size_t i) { return static_cast<uint8_t>(body[i]); };
  const std::string refused = simpleAnswer(group, code, 1);
  const std::string accepted = simpleAnswer(group, code, 0);

  if (options.receiver) {
    if (group == 0x0A && code == 0x04) {
      // Target serial number: 01 0A 04 01 and nine characters.
      if (body.size() != 13 || at(3) != 0x01) return refused;
      state.target3610 = body.substr(4);
      state.connectionPolls = 0;
      state.receiverConnected = false;
      return accepted;
    }
    if (group == 0x02 && code == 0x06) {
      ++state.connectionPolls;
      bool targetReachable =
          !state.target3610.empty() && (options.serial.empty() || options.serial == state.target3610);
      if (targetReachable && state.connectionPolls > options.pollsBeforeConnect) state.receiverConnected = true;
      if (!state.receiverConnected) return simpleAnswer(group, code, 1);
      // Connected: status 0, the target's serial number and link details.
      std::string b = bytesOf({0x01, replyKind(group), code, 0x00});
      b += state.target3610;
      b += bytesOf({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
      return EmulatedReader::buildFrame(b);
    }
    if (group == 0x0A && code == 0x06) {
      if (body.size() != 19) return refused;
      ++state.modeSwitches;
      return accepted;
    }
  }

  switch ((group << 8) | code) {
    case 0x0101: {  // reader information
      std::string b = bytesOf({0x01, replyKind(group), code, 0x00});
      b += "T60X EMU 1.0";
      return EmulatedReader::buildFrame(b);
    }
    case 0x0908:  // buzzer: volume, alarm, beep now, good-read beep, 00, 01
      if (body.size() != 9) return refused;
      state.buzzerVolume = at(3);
      state.buzzerAlarm = at(4) != 0;
      state.goodReadBeep = at(6) != 0;
      if (at(5) != 0) ++state.testBeeps;
      return accepted;
    case 0x0909:
      if (body.size() != 5) return refused;
      state.goodReadFrequency = at(3);
      state.goodReadDuration = at(4);
      return accepted;
    case 0x090B:
      if (body.size() != 5) return refused;
      state.vibrationEnabled = at(3) != 0;
      state.vibrationDuration = at(4);
      return accepted;
    case 0x0910: {
      if (body.size() != 5) return refused;
      ReaderState fresh;
      state.buzzerVolume = fresh.buzzerVolume;
      state.buzzerAlarm = fresh.buzzerAlarm;
      state.goodReadBeep = fresh.goodReadBeep;
      state.goodReadFrequency = fresh.goodReadFrequency;
      state.goodReadDuration = fresh.goodReadDuration;
      state.vibrationEnabled = fresh.vibrationEnabled;
      state.vibrationDuration = fresh.vibrationDuration;
      state.eventsEnabled = fresh.eventsEnabled;
      state.hostMode = fresh.hostMode;
      state.epc2Usb = fresh.epc2Usb;
      ++state.factoryResets;
      return accepted;
    }
    case 0x0920:  // events: 02 67 on/off
      if (body.size() != 6) return refused;
      state.eventsEnabled = at(5) != 0;
      return accepted;
    case 0x0B30:
      if (body.size() != 4) return refused;
      state.hostMode = at(3) != 0;
      return accepted;
    case 0x0C0A:
      if (body.size() != 4) return refused;
      state.epc2Usb = at(3) != 0;
      return accepted;
    case 0x0B36: return readTagData();
    case 0x0B32: return readUserMemory(body);
    case 0x0B33: return writeTag(body);
    default: return refused;
  }
}

// Tag-data answer: 01 3B 36 00, eight free bytes (offsets 6-13), L at 14,
// PC, EPC, the tag's CRC (the two further bytes), an unused byte, T, the TID.
std::string EmulatedReader::Impl::readTagData() {
  if (!tagPresent) return simpleAnswer(kTagGroup, 0x36, 1);
  std::string b = bytesOf({0x01, 0x3B, 0x36, 0x00, 0, 0, 0, 0, 0, 0, 0, 0});
  b.push_back(static_cast<char>(2 + tag.epc.size() + 2));
  b += tag.pc;
  b += tag.epc;
  uint16_t crc = tagCrc(tag.pc + tag.epc);
  b.push_back(static_cast<char>(crc >> 8));
  b.push_back(static_cast<char>(crc & 0xFF));
  b.push_back(0x00);
  b.push_back(static_cast<char>(tag.tid.size()));
  b += tag.tid;
  return EmulatedReader::buildFrame(b);
}

// Selection of the read: 01 0B 32, five 00, count, count bytes of PC and EPC,
// the six-byte trailer. Found: 01 3B 32 00, D, the data, padded so the frame
// is longer than 19 bytes. Nothing found: the data-less answer of length 5.
std::string EmulatedReader::Impl::readUserMemory(const std::string& body) {
  const std::string nothing = EmulatedReader::buildFrame(bytesOf({0x01, 0x3B, 0x32, 0x01}));
  if (!tagPresent || body.size() < 9) return nothing;
  size_t count = static_cast<unsigned char>(body[8]);
  if (body.size() != 9 + count + 6 || body.compare(9, count, tag.pc + tag.epc) != 0) return nothing;
  std::string b = bytesOf({0x01, 0x3B, 0x32, 0x00});
  b.push_back(static_cast<char>(tag.user.size()));
  b += tag.user;
  if (b.size() < 16) b.resize(16, '\0');
  return EmulatedReader::buildFrame(b);
}

// Writes: 01 0B 33, five 00, count (= PC and EPC bytes + 2), PC and EPC, the
// bank trailer (bank at its third byte: 1 EPC, 3 user), data length n, data,
// 00. The first n data bytes are written from the start of the bank, as a tag
// writes words in place; a longer EPC also updates the PC's length field.
std::string EmulatedReader::Impl::writeTag(const std::string& body) {
  const std::string refused = simpleAnswer(kTagGroup, 0x33, 1);
  if (!tagPresent || body.size() < 9) return refused;
  size_t count = static_cast<unsigned char>(body[8]);
  if (count < 2) return refused;
  size_t sel = count - 2;
  size_t lengthAt = 9 + sel + 6;
  if (body.size() < lengthAt + 2) return refused;
  size_t n = static_cast<unsigned char>(body[lengthAt]);
  // The data bytes lie between the length byte and the closing 00.
  if (body.size() - lengthAt - 2 < n) return refused;
  if (body.compare(9, sel, tag.pc + tag.epc) != 0) return refused;
  uint8_t bank = static_cast<uint8_t>(body[9 + sel + 2]);
  std::string data = body.substr(lengthAt + 1, n);
  TagBytes changed = tag;
  std::string& memory = bank == 1 ? changed.epc : changed.user;
  if (bank != 1 && bank != 3) return refused;
  if (memory.size() < data.size()) memory.resize(data.size(), '\0');
  memory.replace(0, data.size(), data);
  if (bank == 1 && changed.epc.size() != tag.epc.size()) {
    unsigned words = static_cast<unsigned>((changed.epc.size() + 1) / 2);
    unsigned pc = (static_cast<unsigned char>(changed.pc[0]) << 8) | static_cast<unsigned char>(changed.pc[1]);
    pc = (pc & 0x07FFu) | ((words & 0x1Fu) << 11);
    changed.pc = bytesOf({static_cast<int>(pc >> 8), static_cast<int>(pc & 0xFF)});
  }
  if (!tagFits(changed)) return refused;
  tag = changed;
  ++state.tagWrites;
  return simpleAnswer(kTagGroup, 0x33, 0);
}

}  // namespace Emulator
