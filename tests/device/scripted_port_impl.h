// Serial::Port::PortImpl, scripted form for byte-exact tests of the reader
// engine: the production facade and engine run over it. Every call that
// reaches the line (open, close, write, read, flush, DTR, RTS, settings) is
// recorded in order in one process-wide script, and reads are answered from
// chunks queued there (or by a responder that sees each write).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace ScriptedLine {

// Bytes as upper-case hex pairs separated by blanks: "5A 04 01".
std::string hex(const std::string& bytes);
// The reverse: "5A 04 01" (blanks optional) as bytes.
std::string bytes(const std::string& hexText);

// Forgets every recorded call, queued read and write rule.
void reset();
// The next read returns these bytes (at most as many as it asks for; the
// rest stays for the read after it). An empty chunk is a silent read.
void queueRead(const std::string& chunk);
// Each write accepts at most the next of these counts of bytes; when the
// list is used up, writes take everything.
void queueWriteCounts(const std::vector<std::size_t>& counts);
// Called with the bytes of every write that took bytes; may queue reads.
void setResponder(std::function<void(const std::string& written)> responder);
// The error record that the next open leaves (code 0: open succeeds).
void failNextOpen(std::uint64_t code, const std::string& description);

// Calls in order: "open", "close", "flush", "dtr 1", "rts 0",
// "write 5A 04 ...", "read 5A 04 ..." (what the read returned; "read" alone
// for a silent one), "baud 115200", "bytesize 8", "parity 0", "stopbits 1",
// "flow 2", "timeout 4294967295 250 0 250 0", "port NAME".
std::vector<std::string> calls();
// Only the calls that start with one of these words.
std::vector<std::string> calls(const std::vector<std::string>& words);
// The bytes of each write, as hex.
std::vector<std::string> writes();
std::size_t count(const std::string& word);

}  // namespace ScriptedLine

namespace Serial {

class Port::PortImpl {
public:
    PortImpl(const std::string& port, std::uint64_t baudrate, ByteSize_t bytesize, Parity_t parity,
             StopBits_t stopbits, FlowControl_t flowcontrol);
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
    std::string port_;
    bool open_ = false;
    Timeout timeout_;
    std::uint64_t baudrate_;
    ByteSize_t bytesize_;
    Parity_t parity_;
    StopBits_t stopbits_;
    FlowControl_t flowcontrol_;
    std::uint64_t lastErrorCode_ = 0;
    std::string lastErrorDescription_;
};

}  // namespace Serial
