// Serial::Port: the serial-port facade through which the reader engine talks
// to a reader on a (USB virtual) serial port. It owns one platform object,
// Serial::Port::PortImpl, and forwards every call to it. Nothing throws:
// failures are kept in the port's error record (code and narrow text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Serial {

// Plain integer enumerations with a fixed underlying type: a value outside
// the named ones (a byte size of 9, a parity of 7) is stored and compared as
// it is, and the port treats it as its defaults say.
enum ByteSize_t : int { fivebits = 5, sixbits = 6, sevenbits = 7, eightbits = 8 };
enum Parity_t : int { parity_none = 0, parity_odd = 1, parity_even = 2, parity_mark = 3, parity_space = 4 };
enum StopBits_t : int { stopbits_one = 1, stopbits_two = 2, stopbits_one_point_five = 3 };
enum FlowControl_t : int { flowcontrol_none = 0, flowcontrol_software = 1, flowcontrol_hardware = 2 };

// All five in milliseconds. A read of n bytes may take at most
// readTimeoutConstant + n * readTimeoutMultiplier (modulo 2^32), a write
// likewise with the write pair.
struct Timeout {
    static std::uint32_t maxTimeout() { return 0xFFFFFFFFu; }

    std::uint32_t interByteTimeout = 0;
    std::uint32_t readTimeoutConstant = 0;
    std::uint32_t readTimeoutMultiplier = 0;
    std::uint32_t writeTimeoutConstant = 0;
    std::uint32_t writeTimeoutMultiplier = 0;
};

class Port {
public:
    class PortImpl;

    Port(const std::string& port, std::uint32_t baudrate, Timeout timeout,
         ByteSize_t bytesize, Parity_t parity, StopBits_t stopbits, FlowControl_t flowcontrol);
    virtual ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    void open();
    void close();
    bool isOpen() const;

    std::size_t available();
    bool waitReadable();
    void waitByteTimes(std::size_t count);

    std::size_t read(std::uint8_t* buffer, std::size_t size);
    std::size_t readInternal(std::uint8_t* buffer, std::size_t size);
    std::size_t read(std::vector<std::uint8_t>& buffer, std::size_t size);
    std::size_t read(std::string& buffer, std::size_t size);
    std::string read(std::size_t size);
    std::size_t readLine(std::string& buffer, std::size_t size, const std::string& eol);
    std::string readLine(std::size_t size, const std::string& eol);
    std::vector<std::string> readLines(std::size_t size, const std::string& eol);

    std::size_t write(const std::uint8_t* data, std::size_t size);
    std::size_t write(const std::string& data);
    std::size_t write(const std::vector<std::uint8_t>& data);
    std::size_t writeInternal(const std::uint8_t* data, std::size_t size);

    void setPort(const std::string& port);
    std::string getPort() const;

    void setTimeout(Timeout& timeout);
    Timeout getTimeout() const;

    void setBaudrate(std::uint32_t baudrate);
    std::uint32_t getBaudrate() const;
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

    std::uint64_t getLastErrorCode() const;
    std::string getLastErrorDescription() const;
    void resetLastError();

private:
    PortImpl* pimpl_;
};

// One serial port of the machine.
struct PortInfo {
    std::string port;         // device path, e.g. /dev/ttyUSB0
    std::string description;  // USB: manufacturer, product, serial; else the device name
    std::string hardware_id;  // USB: VID:PID and serial; else the sysfs id or "n/a"
};

std::vector<PortInfo> GetPortsList();

}  // namespace Serial
