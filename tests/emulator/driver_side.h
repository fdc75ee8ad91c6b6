// The driver's side of the emulated reader's pseudo-terminal for tests: plain
// POSIX I/O on the slave, frame building and frame reading with deadlines.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

namespace test {

// Bytes from a hex text such as "5A 04 01"; blanks are ignored.
inline std::string hex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c != ' ') digits.push_back(c);
  std::string out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string toHex(const std::string& bytes) {
  static const char d[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out.push_back(' ');
    out.push_back(d[static_cast<unsigned char>(bytes[i]) >> 4]);
    out.push_back(d[static_cast<unsigned char>(bytes[i]) & 15]);
  }
  return out;
}

inline unsigned byteAt(const std::string& s, size_t i) { return static_cast<unsigned char>(s.at(i)); }

// A frame built independently of the emulator: 5A, LEN, body, checksum, 7E.
inline std::string frame(const std::string& body) {
  std::string f = "\x5A";
  f.push_back(static_cast<char>(body.size() + 1));
  f += body;
  unsigned sum = 0;
  for (size_t i = 1; i < f.size(); ++i) sum += byteAt(f, i);
  unsigned check = (0x10000u - sum) & 0xFFFFu;
  f.push_back(static_cast<char>(check >> 8));
  f.push_back(static_cast<char>(check & 0xFF));
  f.push_back('\x7E');
  return f;
}

inline bool checksumOk(const std::string& f) {
  if (f.size() < 5 || byteAt(f, 0) != 0x5A || f.size() != byteAt(f, 1) + 4u || byteAt(f, f.size() - 1) != 0x7E)
    return false;
  return frame(f.substr(2, f.size() - 5)) == f;
}

class DriverSide {
 public:
  explicit DriverSide(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~DriverSide() {
    if (fd_ >= 0) ::close(fd_);
  }
  DriverSide(const DriverSide&) = delete;
  DriverSide& operator=(const DriverSide&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Writes all bytes, waiting while the terminal's queue is full.
  bool send(const std::string& bytes, int timeoutMs = 2000) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return false;
    }
    return true;
  }

  // Reads one whole frame (by its length byte), keeping later bytes for the
  // next call; empty when none is complete within the time.
  std::string readFrame(int timeoutMs = 2000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      size_t start = buffer_.find('\x5A');
      if (start != std::string::npos && buffer_.size() >= start + 2) {
        size_t total = byteAt(buffer_, start + 1) + 4u;
        if (buffer_.size() >= start + total) {
          std::string f = buffer_.substr(start, total);
          buffer_.erase(0, start + total);
          return f;
        }
      }
      if (!fill(deadline)) return std::string();
    }
  }

  // Everything that arrives until the line stays quiet for quietMs.
  std::string readQuiet(int quietMs = 300) {
    for (;;) {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(quietMs);
      if (!fill(deadline)) break;
    }
    std::string all;
    all.swap(buffer_);
    return all;
  }

  // Sends a command frame and returns the first answer frame.
  std::string exchange(const std::string& command, int timeoutMs = 2000) {
    send(command);
    return readFrame(timeoutMs);
  }

  // One read of whatever arrives before the deadline; false on time-out or
  // end of the line.
  bool fill(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[512];
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n <= 0) {
      lastError_ = n < 0 ? errno : 0;
      hungUp_ = true;
      return false;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  bool hungUp() const { return hungUp_; }

 private:
  int fd_ = -1;
  std::string buffer_;
  bool hungUp_ = false;
  int lastError_ = 0;
};

}  // namespace test
