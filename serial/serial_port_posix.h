// Serial::Port::PortImpl, POSIX form: a terminal device opened non-blocking,
// configured with termios, all waiting done with pselect against one
// deadline on the monotonic clock. Also Serial::MillisecondTimer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "serial/serial_port.h"
#include "support/mutex.h"

namespace Serial {

// A deadline on the monotonic clock, held as whole seconds and nanoseconds
// (nanoseconds always below 1000000000).
class MillisecondTimer {
public:
    explicit MillisecondTimer(std::uint32_t milliseconds);
    // Milliseconds until the deadline, truncated toward zero; zero or
    // negative once it has passed.
    std::int64_t remaining();
    static timespec timespec_now();

private:
    timespec expiry;
};

// Whole seconds and the nanoseconds of the rest of the given milliseconds.
timespec timespec_from_ms(std::uint32_t millis);

class Port::PortImpl {
public:
    PortImpl(const std::string& port, std::uint64_t baudrate, ByteSize_t bytesize,
             Parity_t parity, StopBits_t stopbits, FlowControl_t flowcontrol);
    virtual ~PortImpl();
    PortImpl(const PortImpl&) = delete;
    PortImpl& operator=(const PortImpl&) = delete;

    void open();
    void close();
    bool isOpen() const;
    void reconfigurePort();

    std::size_t available();
    bool waitReadable(std::uint32_t timeout);
    void waitByteTimes(std::size_t count);

    std::size_t read(std::uint8_t* buf, std::size_t size);
    std::size_t write(const std::uint8_t* data, std::size_t length);

    void setPort(const std::string& port);
    std::string getPort() const;

    void setTimeout(Timeout& timeout);
    Timeout getTimeout() const;

    void setBaudrate(std::uint64_t baudrate);
    std::uint64_t getBaudrate() const;
    void setByteSize(ByteSize_t bytesize);
    ByteSize_t getByteSize() const;
    void setParity(Parity_t parity);
    Parity_t getParity() const;
    void setStopBits(StopBits_t stopbits);
    StopBits_t getStopBits() const;
    void setFlowControl(FlowControl_t flowcontrol);
    FlowControl_t getFlowControl() const;

    void flush();
    void flushInput();
    void flushOutput();
    void sendBreak(int duration);
    void setBreak(bool level);
    void setRTS(bool level);
    void setDTR(bool level);
    bool waitForChange();
    bool getCTS();
    bool getDSR();
    bool getRI();
    bool getCD();

    void readLock();
    void readUnlock();
    void writeLock();
    void writeUnlock();

    std::uint64_t getLastErrorCode() const;
    std::string getLastErrorDescription() const;
    void setLastErrorCode(std::uint64_t code);
    void setLastErrorDescription(const std::string& description);
    void resetLastError();

private:
    // Records errno as the code and prefix + errno + " " + strerror(errno).
    void recordSystemError(const char* prefix, int error);
    bool getModemBit(int bit, const char* prefix);
    void changeModemBits(bool level, int bits, const char* setPrefix, const char* clearPrefix);
    // Sleeps for the given nanoseconds (any amount, split into seconds).
    static void sleepNanoseconds(std::uint64_t nanoseconds);

    std::string port_;
    int fd_;
    bool is_open_;
    bool xonxoff_;
    bool rtscts_;
    Timeout timeout_;
    std::uint64_t baudrate_;
    std::uint32_t byte_time_ns_;
    Parity_t parity_;
    ByteSize_t bytesize_;
    StopBits_t stopbits_;
    FlowControl_t flowcontrol_;
    std::uint64_t lastErrorCode_;
    std::string lastErrorDescription_;
    Mutex read_mutex;
    Mutex write_mutex;
};

}  // namespace Serial
