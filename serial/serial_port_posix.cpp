// Serial::Port::PortImpl, POSIX form, and Serial::MillisecondTimer. Only
// POSIX and Linux terminal calls live here; the facade is serial_port.cpp.
#include "serial/serial_port_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace Serial {

namespace {

constexpr std::uint64_t kPortError = 335;  // the port's own failures: no name, not open
constexpr std::int64_t kNanosPerSecond = 1000000000;
// After a readiness report that yields no data (an unplugged device keeps
// reporting readiness), the next attempt waits this long so that the rest
// of the time limit is not spent spinning.
constexpr std::uint32_t kRetryPauseMs = 5;

std::string numberText(long long value) { return std::to_string(value); }

// Waits until fd is readable (or writable) or the time runs out. Returns
// what pselect returns: >0 ready, 0 timed out, -1 failed (errno set).
// Descriptors beyond FD_SETSIZE cannot go into an fd_set without writing past
// it (a host process may hold many descriptors), so those wait with ppoll.
int waitDescriptor(int fd, bool forWrite, const timespec& limit) {
    if (fd >= 0 && fd < FD_SETSIZE) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        return forWrite ? pselect(fd + 1, nullptr, &set, nullptr, &limit, nullptr)
                        : pselect(fd + 1, &set, nullptr, nullptr, &limit, nullptr);
    }
    pollfd entry{};
    entry.fd = fd;
    entry.events = forWrite ? POLLOUT : POLLIN;
    return ppoll(&entry, 1, &limit, nullptr);
}

void pauseMilliseconds(std::uint32_t millis) {
    timespec pause = timespec_from_ms(millis);
    pselect(0, nullptr, nullptr, nullptr, &pause, nullptr);
}

}  // namespace

// ---------------------------------------------------------------- timer

timespec MillisecondTimer::timespec_now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

MillisecondTimer::MillisecondTimer(std::uint32_t milliseconds) : expiry(timespec_now()) {
    std::int64_t nanos = expiry.tv_nsec + static_cast<std::int64_t>(milliseconds) * 1000000;
    expiry.tv_sec += nanos / kNanosPerSecond;
    expiry.tv_nsec = nanos % kNanosPerSecond;
}

std::int64_t MillisecondTimer::remaining() {
    timespec now = timespec_now();
    double millis = (static_cast<double>(expiry.tv_sec) - static_cast<double>(now.tv_sec)) * 1e3 +
                    (static_cast<double>(expiry.tv_nsec) - static_cast<double>(now.tv_nsec)) / 1e6;
    return static_cast<std::int64_t>(millis);
}

timespec timespec_from_ms(std::uint32_t millis) {
    timespec time{};
    std::uint32_t seconds = millis / 1000;
    time.tv_sec = seconds;
    time.tv_nsec = static_cast<long>(millis - seconds * 1000) * 1000000;
    return time;
}

// ---------------------------------------------------------------- life

Port::PortImpl::PortImpl(const std::string& port, std::uint64_t baudrate, ByteSize_t bytesize,
                         Parity_t parity, StopBits_t stopbits, FlowControl_t flowcontrol)
    : port_(port),
      fd_(-1),
      is_open_(false),
      xonxoff_(false),
      rtscts_(false),
      timeout_(),
      baudrate_(baudrate),
      byte_time_ns_(0),
      parity_(parity),
      bytesize_(bytesize),
      stopbits_(stopbits),
      flowcontrol_(flowcontrol),
      lastErrorCode_(0) {
    resetLastError();
    if (!port_.empty()) open();
}

Port::PortImpl::~PortImpl() { close(); }

void Port::PortImpl::open() {
    if (port_.empty()) {
        lastErrorCode_ = kPortError;
        lastErrorDescription_ = "Port name empty!";
        return;
    }
    if (is_open_) return;

    // Close-on-exec: a program that the host process starts must not inherit
    // the device and hold it open after the port is closed.
    for (;;) {
        fd_ = ::open(port_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ != -1) break;
        int error = errno;
        if (error == EINTR) continue;
        lastErrorCode_ = static_cast<std::uint64_t>(error);
        if (error == ENFILE || error == EMFILE)
            lastErrorDescription_ = "Too many file handles open";
        else
            lastErrorDescription_ = "Unknown error opening the serial port : " + numberText(error);
        return;
    }

    reconfigurePort();
    is_open_ = true;
}

void Port::PortImpl::close() {
    if (!is_open_) return;
    if (fd_ != -1) {
        if (::close(fd_) != 0) {
            int error = errno;
            lastErrorCode_ = static_cast<std::uint64_t>(error);
            lastErrorDescription_ = "Error while closing serial port: " + numberText(error);
        }
        // Linux releases the descriptor even when close reports a failure;
        // keeping the number would later act on whatever reuses it.
        fd_ = -1;
    }
    is_open_ = false;
}

bool Port::PortImpl::isOpen() const { return is_open_; }

// ---------------------------------------------------------------- settings

namespace {

// Rates that have a speed constant of their own; any other is set as a
// custom divisor of the line's base baud.
bool standardSpeed(std::uint64_t baud, speed_t& speed) {
    static const struct {
        std::uint64_t rate;
        speed_t constant;
    } table[] = {
        {0, B0},           {50, B50},           {75, B75},           {110, B110},
        {134, B134},       {150, B150},         {200, B200},         {300, B300},
        {600, B600},       {1200, B1200},       {1800, B1800},       {2400, B2400},
        {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},
        {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& entry : table) {
        if (entry.rate == baud) {
            speed = entry.constant;
            return true;
        }
    }
    return false;
}

}  // namespace

void Port::PortImpl::reconfigurePort() {
    if (fd_ == -1) return;

    termios options{};
    if (tcgetattr(fd_, &options) == -1) {
        int error = errno;
        lastErrorCode_ = static_cast<std::uint64_t>(error);
        lastErrorDescription_ = "Error getting the serial port state: " + numberText(error);
        return;
    }

    // Raw mode.
    options.c_cflag |= (CLOCAL | CREAD);
    options.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
    options.c_oflag &= ~(OPOST);
    options.c_iflag &= ~(INLCR | IGNCR | ICRNL | IGNBRK | IUCLC | PARMRK);

    speed_t speed = B0;
    if (standardSpeed(baudrate_, speed)) {
        cfsetispeed(&options, speed);
        cfsetospeed(&options, speed);
    } else {
        // A custom rate: the line's divisor is set from its base baud. Many
        // USB serial drivers do not offer the line information; then nothing
        // is written back, since the record would hold no real settings.
        const std::uint32_t rate = static_cast<std::uint32_t>(baudrate_);
        serial_struct serial{};
        if (rate != 0 && ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
            serial.custom_divisor = static_cast<int>(static_cast<std::uint32_t>(serial.baud_base) / rate);
            serial.flags &= ~ASYNC_SPD_MASK;
            serial.flags |= ASYNC_SPD_CUST;
            ioctl(fd_, TIOCSSERIAL, &serial);
        }
    }

    options.c_cflag &= ~CSIZE;
    switch (bytesize_) {
        case fivebits: options.c_cflag |= CS5; break;
        case sixbits: options.c_cflag |= CS6; break;
        case sevenbits: options.c_cflag |= CS7; break;
        default: options.c_cflag |= CS8; break;
    }

    if (stopbits_ == stopbits_two || stopbits_ == stopbits_one_point_five)
        options.c_cflag |= CSTOPB;
    else
        options.c_cflag &= ~CSTOPB;

    // Odd and even clear the mark/space flag: the terminal keeps it from an
    // earlier mark or space setting (or from the device's previous user), and
    // with it left set odd would send mark parity and even space parity.
    options.c_iflag &= ~(INPCK | ISTRIP);
    switch (parity_) {
        case parity_odd:
            options.c_cflag |= (PARENB | PARODD);
            options.c_cflag &= ~CMSPAR;
            break;
        case parity_even:
            options.c_cflag |= PARENB;
            options.c_cflag &= ~(PARODD | CMSPAR);
            break;
        case parity_mark: options.c_cflag |= (PARENB | PARODD | CMSPAR); break;
        case parity_space:
            options.c_cflag |= (PARENB | CMSPAR);
            options.c_cflag &= ~PARODD;
            break;
        default: options.c_cflag &= ~(PARENB | PARODD); break;
    }

    switch (flowcontrol_) {
        case flowcontrol_none: xonxoff_ = false; rtscts_ = false; break;
        case flowcontrol_software: xonxoff_ = true; rtscts_ = false; break;
        case flowcontrol_hardware: xonxoff_ = false; rtscts_ = true; break;
        default: break;  // an unknown value keeps the flow in effect
    }
    if (xonxoff_)
        options.c_iflag |= (IXON | IXOFF);
    else
        options.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (rtscts_)
        options.c_cflag |= CRTSCTS;
    else
        options.c_cflag &= ~CRTSCTS;

    // A read call returns at once with what is there; waiting is pselect's.
    options.c_cc[VMIN] = 0;
    options.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &options);

    // Transmission time of one character frame.
    const std::uint32_t bitTime =
        baudrate_ == 0 ? 0 : static_cast<std::uint32_t>(1000000000ull / baudrate_);
    const std::uint32_t dataBits = static_cast<std::uint32_t>(bytesize_);
    const std::uint32_t parityBits = parity_ == parity_none ? 0 : 1;
    if (stopbits_ == stopbits_one_point_five) {
        double frame = static_cast<double>(bitTime) * (1 + dataBits + parityBits + 3) -
                       1.5 * static_cast<double>(bitTime);
        byte_time_ns_ = static_cast<std::uint32_t>(frame);
    } else {
        const std::uint32_t stopBits = stopbits_ == stopbits_two ? 2 : 1;
        byte_time_ns_ = bitTime * (1 + dataBits + parityBits + stopBits);
    }
}

void Port::PortImpl::setPort(const std::string& port) { port_ = port; }
std::string Port::PortImpl::getPort() const { return port_; }

void Port::PortImpl::setTimeout(Timeout& timeout) { timeout_ = timeout; }
Timeout Port::PortImpl::getTimeout() const { return timeout_; }

void Port::PortImpl::setBaudrate(std::uint64_t baudrate) {
    baudrate_ = baudrate;
    if (is_open_) reconfigurePort();
}
std::uint64_t Port::PortImpl::getBaudrate() const { return baudrate_; }

void Port::PortImpl::setByteSize(ByteSize_t bytesize) {
    bytesize_ = bytesize;
    if (is_open_) reconfigurePort();
}
ByteSize_t Port::PortImpl::getByteSize() const { return bytesize_; }

void Port::PortImpl::setParity(Parity_t parity) {
    parity_ = parity;
    if (is_open_) reconfigurePort();
}
Parity_t Port::PortImpl::getParity() const { return parity_; }

void Port::PortImpl::setStopBits(StopBits_t stopbits) {
    stopbits_ = stopbits;
    if (is_open_) reconfigurePort();
}
StopBits_t Port::PortImpl::getStopBits() const { return stopbits_; }

void Port::PortImpl::setFlowControl(FlowControl_t flowcontrol) {
    flowcontrol_ = flowcontrol;
    if (is_open_) reconfigurePort();
}
FlowControl_t Port::PortImpl::getFlowControl() const { return flowcontrol_; }

// ---------------------------------------------------------------- reading, writing

std::size_t Port::PortImpl::available() {
    if (!is_open_) return 0;
    int count = 0;
    if (ioctl(fd_, TIOCINQ, &count) == -1) {
        int error = errno;
        lastErrorCode_ = static_cast<std::uint64_t>(error);
        lastErrorDescription_ = "Error while checking status of the serial port: " + numberText(error);
        return 0;
    }
    return count < 0 ? 0 : static_cast<std::size_t>(count);
}

// False when the time runs out or a signal interrupts the wait. A failure of
// the wait itself answers true, so that the read that follows records it.
bool Port::PortImpl::waitReadable(std::uint32_t timeout) {
    timespec limit = timespec_from_ms(timeout);
    int result = waitDescriptor(fd_, false, limit);
    if (result < 0) return errno != EINTR;
    return result > 0;
}

void Port::PortImpl::waitByteTimes(std::size_t count) {
    sleepNanoseconds(static_cast<std::uint64_t>(count) * byte_time_ns_);
}

// Sleeps the whole amount: a wait of a second or more is split into seconds
// and nanoseconds, which the system requires.
void Port::PortImpl::sleepNanoseconds(std::uint64_t nanoseconds) {
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(nanoseconds / kNanosPerSecond);
    wait.tv_nsec = static_cast<long>(nanoseconds % kNanosPerSecond);
    pselect(0, nullptr, nullptr, nullptr, &wait, nullptr);
}

// Reads up to size bytes. Returns early only with all size bytes; otherwise
// with what arrived by the end of the total time limit
// (constant + size * multiplier). The inter-byte limit bounds each single
// wait but never ends the read before the total time.
std::size_t Port::PortImpl::read(std::uint8_t* buf, std::size_t size) {
    if (!is_open_) {
        lastErrorCode_ = kPortError;
        lastErrorDescription_ = "Port is not open!";
        return 0;
    }
    MillisecondTimer total(static_cast<std::uint32_t>(size * timeout_.readTimeoutMultiplier +
                                                      timeout_.readTimeoutConstant));

    std::size_t count = 0;
    if (size > 0) {
        ssize_t first = ::read(fd_, buf, size);
        if (first > 0) count = static_cast<std::size_t>(first);
    }

    while (count < size) {
        std::int64_t remaining = total.remaining();
        if (remaining <= 0) break;
        std::uint32_t wait = static_cast<std::uint32_t>(remaining);
        // An inter-byte limit of 0 would make every wait return at once and
        // the read spin until its deadline, so 0 leaves the wait unbounded.
        if (timeout_.interByteTimeout != 0 && timeout_.interByteTimeout < wait)
            wait = timeout_.interByteTimeout;
        if (!waitReadable(wait)) continue;

        if (size > 1 && timeout_.interByteTimeout == Timeout::maxTimeout()) {
            std::size_t waiting = available();
            if (count + waiting < size) {
                // The rest of a frame that is still arriving is usually taken
                // by one read; the pause never goes beyond the deadline.
                std::uint64_t missing = static_cast<std::uint64_t>(size - count - waiting) * byte_time_ns_;
                std::int64_t left = total.remaining();
                std::uint64_t bound = left > 0 ? static_cast<std::uint64_t>(left) * 1000000 : 0;
                sleepNanoseconds(missing < bound ? missing : bound);
            }
        }

        ssize_t got = ::read(fd_, buf + count, size - count);
        if (got > 0) {
            count += static_cast<std::size_t>(got);
        } else {
            // A hung-up line (an unplugged device) answers end of file and
            // sets no errno; it is recorded as an input/output error rather
            // than with whatever errno an earlier call left.
            int error = got == 0 ? EIO : errno;
            lastErrorCode_ = static_cast<std::uint64_t>(error);
            lastErrorDescription_ =
                "device reports readiness to read but returned no data (device disconnected?): " +
                numberText(error);
            std::int64_t left = total.remaining();
            if (left > 0) pauseMilliseconds(left < kRetryPauseMs ? static_cast<std::uint32_t>(left) : kRetryPauseMs);
        }
    }
    return count;
}

// Writes up to length bytes within the total time limit
// (constant + length * multiplier); returns the number written.
std::size_t Port::PortImpl::write(const std::uint8_t* data, std::size_t length) {
    if (!is_open_) {
        lastErrorCode_ = kPortError;
        lastErrorDescription_ = "Port is not open!";
        return 0;
    }
    MillisecondTimer total(static_cast<std::uint32_t>(length * timeout_.writeTimeoutMultiplier +
                                                      timeout_.writeTimeoutConstant));
    if (length == 0) return 0;

    std::size_t written = 0;
    while (written < length) {
        std::int64_t remaining = total.remaining();
        if (remaining <= 0) break;
        timespec limit = timespec_from_ms(static_cast<std::uint32_t>(remaining));
        int ready = waitDescriptor(fd_, true, limit);
        if (ready < 0) {
            // Interrupted: try again at once. Any other failure would repeat
            // at once as well, so it pauses briefly before the next attempt.
            if (errno != EINTR) pauseMilliseconds(remaining < kRetryPauseMs ? static_cast<std::uint32_t>(remaining) : kRetryPauseMs);
            continue;
        }
        if (ready == 0) break;

        ssize_t put = ::write(fd_, data + written, length - written);
        if (put > 0) {
            written += static_cast<std::size_t>(put);
        } else {
            lastErrorCode_ = static_cast<std::uint64_t>(put == 0 ? EIO : errno);
            lastErrorDescription_ = "device reports readiness to write but returned no data (device disconnected?)";
            std::int64_t left = total.remaining();
            if (left > 0) pauseMilliseconds(left < kRetryPauseMs ? static_cast<std::uint32_t>(left) : kRetryPauseMs);
        }
    }
    return written;
}

// ---------------------------------------------------------------- line control

void Port::PortImpl::flush() {
    if (is_open_) tcdrain(fd_);
}

void Port::PortImpl::flushInput() {
    if (is_open_) tcflush(fd_, TCIFLUSH);
}

void Port::PortImpl::flushOutput() {
    if (is_open_) tcflush(fd_, TCOFLUSH);
}

void Port::PortImpl::sendBreak(int duration) {
    if (is_open_) tcsendbreak(fd_, duration / 4);
}

void Port::PortImpl::recordSystemError(const char* prefix, int error) {
    lastErrorCode_ = static_cast<std::uint64_t>(error);
    lastErrorDescription_ = std::string(prefix) + numberText(error) + " " + std::strerror(error);
}

void Port::PortImpl::setBreak(bool level) {
    if (!is_open_) return;
    if (level) {
        if (ioctl(fd_, TIOCSBRK) == -1) recordSystemError("setBreak failed on a call to ioctl(TIOCSBRK): ", errno);
    } else {
        if (ioctl(fd_, TIOCCBRK) == -1) recordSystemError("setBreak failed on a call to ioctl(TIOCCBRK): ", errno);
    }
}

void Port::PortImpl::changeModemBits(bool level, int bits, const char* setPrefix, const char* clearPrefix) {
    if (!is_open_) return;
    if (ioctl(fd_, level ? TIOCMBIS : TIOCMBIC, &bits) == -1)
        recordSystemError(level ? setPrefix : clearPrefix, errno);
}

void Port::PortImpl::setRTS(bool level) {
    changeModemBits(level, TIOCM_RTS, "setRTS failed on a call to ioctl(TIOCMBIS): ",
                    "setRTS failed on a call to ioctl(TIOCMBIC): ");
}

void Port::PortImpl::setDTR(bool level) {
    changeModemBits(level, TIOCM_DTR, "setDTR failed on a call to ioctl(TIOCMBIS): ",
                    "setDTR failed on a call to ioctl(TIOCMBIC): ");
}

// Blocks until CD, DSR, RI or CTS changes. A failed wait is recorded and
// answers false: the caller must not take it for a change of the lines.
bool Port::PortImpl::waitForChange() {
    const int lines = TIOCM_CD | TIOCM_DSR | TIOCM_RI | TIOCM_CTS;
    if (ioctl(fd_, TIOCMIWAIT, lines) == -1) {
        recordSystemError("waitForDSR failed on a call to ioctl(TIOCMIWAIT): ", errno);
        return false;
    }
    return true;
}

bool Port::PortImpl::getModemBit(int bit, const char* prefix) {
    if (!is_open_) return false;
    int status = 0;
    if (ioctl(fd_, TIOCMGET, &status) == -1) {
        recordSystemError(prefix, errno);
        return false;
    }
    return (status & bit) != 0;
}

bool Port::PortImpl::getCTS() { return getModemBit(TIOCM_CTS, "getCTS failed on a call to ioctl(TIOCMGET): "); }
bool Port::PortImpl::getDSR() { return getModemBit(TIOCM_DSR, "getDSR failed on a call to ioctl(TIOCMGET): "); }
bool Port::PortImpl::getRI() { return getModemBit(TIOCM_RI, "getRI failed on a call to ioctl(TIOCMGET): "); }
bool Port::PortImpl::getCD() { return getModemBit(TIOCM_CD, "getCD failed on a call to ioctl(TIOCMGET): "); }

// ---------------------------------------------------------------- locks, errors

void Port::PortImpl::readLock() { read_mutex.lock(); }
void Port::PortImpl::readUnlock() { read_mutex.unlock(); }
void Port::PortImpl::writeLock() { write_mutex.lock(); }
void Port::PortImpl::writeUnlock() { write_mutex.unlock(); }

std::uint64_t Port::PortImpl::getLastErrorCode() const { return lastErrorCode_; }
std::string Port::PortImpl::getLastErrorDescription() const { return lastErrorDescription_; }
void Port::PortImpl::setLastErrorCode(std::uint64_t code) { lastErrorCode_ = code; }
void Port::PortImpl::setLastErrorDescription(const std::string& description) {
    lastErrorDescription_ = description;
}

void Port::PortImpl::resetLastError() {
    lastErrorCode_ = 0;
    lastErrorDescription_.clear();
    errno = 0;
}

}  // namespace Serial
