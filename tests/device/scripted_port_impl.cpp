// Scripted Serial::Port::PortImpl: records the calls that reach the line and
// answers reads from the queued script. Thread-safe, so that a session's
// worker and the test can share it.
#include "tests/device/scripted_port_impl.h"

#include <algorithm>
#include <deque>
#include <mutex>

namespace {

struct Script {
    std::mutex lock;
    std::vector<std::string> calls;
    std::deque<std::string> reads;
    std::deque<std::size_t> writeCounts;
    std::function<void(const std::string&)> responder;
    std::uint64_t openErrorCode = 0;
    std::string openErrorDescription;
};

Script& script() {
    static Script* const instance = new Script;
    return *instance;
}

void record(const std::string& call) {
    std::lock_guard<std::mutex> guard(script().lock);
    script().calls.push_back(call);
}

}  // namespace

namespace ScriptedLine {

std::string hex(const std::string& data) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : data) {
        if (!text.empty())
            text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string bytes(const std::string& hexText) {
    std::string data;
    int pending = -1;
    for (char c : hexText) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0)
            continue;
        if (pending < 0) {
            pending = digit;
        } else {
            data += static_cast<char>(pending * 16 + digit);
            pending = -1;
        }
    }
    return data;
}

void reset() {
    std::lock_guard<std::mutex> guard(script().lock);
    script().calls.clear();
    script().reads.clear();
    script().writeCounts.clear();
    script().responder = nullptr;
    script().openErrorCode = 0;
    script().openErrorDescription.clear();
}

void queueRead(const std::string& chunk) {
    std::lock_guard<std::mutex> guard(script().lock);
    script().reads.push_back(chunk);
}

void queueWriteCounts(const std::vector<std::size_t>& counts) {
    std::lock_guard<std::mutex> guard(script().lock);
    script().writeCounts.insert(script().writeCounts.end(), counts.begin(), counts.end());
}

void setResponder(std::function<void(const std::string&)> responder) {
    std::lock_guard<std::mutex> guard(script().lock);
    script().responder = std::move(responder);
}

void failNextOpen(std::uint64_t code, const std::string& description) {
    std::lock_guard<std::mutex> guard(script().lock);
    script().openErrorCode = code;
    script().openErrorDescription = description;
}

std::vector<std::string> calls() {
    std::lock_guard<std::mutex> guard(script().lock);
    return script().calls;
}

std::vector<std::string> calls(const std::vector<std::string>& words) {
    std::vector<std::string> picked;
    for (const std::string& call : calls()) {
        const std::string word = call.substr(0, call.find(' '));
        for (const std::string& wanted : words)
            if (word == wanted) {
                picked.push_back(call);
                break;
            }
    }
    return picked;
}

std::vector<std::string> writes() {
    std::vector<std::string> written;
    for (const std::string& call : calls({"write"}))
        written.push_back(call.size() > 6 ? call.substr(6) : std::string());
    return written;
}

std::size_t count(const std::string& word) { return calls({word}).size(); }

}  // namespace ScriptedLine

namespace Serial {

Port::PortImpl::PortImpl(const std::string& port, std::uint64_t baudrate, ByteSize_t bytesize, Parity_t parity,
                         StopBits_t stopbits, FlowControl_t flowcontrol)
    : port_(port), baudrate_(baudrate), bytesize_(bytesize), parity_(parity), stopbits_(stopbits),
      flowcontrol_(flowcontrol) {
    if (!port_.empty())
        open();
}

Port::PortImpl::~PortImpl() { close(); }

void Port::PortImpl::open() {
    record("open");
    std::lock_guard<std::mutex> guard(script().lock);
    if (script().openErrorCode != 0) {
        lastErrorCode_ = script().openErrorCode;
        lastErrorDescription_ = script().openErrorDescription;
        script().openErrorCode = 0;
        return;
    }
    open_ = true;
}

void Port::PortImpl::close() {
    if (!open_)
        return;
    record("close");
    open_ = false;
}

bool Port::PortImpl::isOpen() const { return open_; }
void Port::PortImpl::reconfigurePort() {}
std::size_t Port::PortImpl::available() {
    std::lock_guard<std::mutex> guard(script().lock);
    return script().reads.empty() ? 0 : script().reads.front().size();
}
bool Port::PortImpl::waitReadable(std::uint32_t) { return available() > 0; }
void Port::PortImpl::waitByteTimes(std::size_t) {}

std::size_t Port::PortImpl::read(std::uint8_t* buf, std::size_t size) {
    std::string chunk;
    {
        std::lock_guard<std::mutex> guard(script().lock);
        if (!script().reads.empty()) {
            std::string& front = script().reads.front();
            chunk = front.substr(0, size);
            if (front.size() > size)
                front.erase(0, size);
            else
                script().reads.pop_front();
        }
    }
    record(chunk.empty() ? std::string("read") : "read " + ScriptedLine::hex(chunk));
    chunk.copy(reinterpret_cast<char*>(buf), chunk.size());
    return chunk.size();
}

std::size_t Port::PortImpl::write(const std::uint8_t* data, std::size_t length) {
    const std::string all(reinterpret_cast<const char*>(data), length);
    std::size_t taken = length;
    std::function<void(const std::string&)> responder;
    {
        std::lock_guard<std::mutex> guard(script().lock);
        if (!script().writeCounts.empty()) {
            taken = std::min(length, script().writeCounts.front());
            script().writeCounts.pop_front();
        }
        responder = script().responder;
    }
    record("write " + ScriptedLine::hex(all.substr(0, taken)));
    if (taken > 0 && responder)
        responder(all.substr(0, taken));
    return taken;
}

void Port::PortImpl::setPort(const std::string& port) {
    record("port " + port);
    port_ = port;
}
std::string Port::PortImpl::getPort() const { return port_; }

void Port::PortImpl::setTimeout(Timeout& timeout) {
    record("timeout " + std::to_string(timeout.interByteTimeout) + " " + std::to_string(timeout.readTimeoutConstant) +
           " " + std::to_string(timeout.readTimeoutMultiplier) + " " + std::to_string(timeout.writeTimeoutConstant) +
           " " + std::to_string(timeout.writeTimeoutMultiplier));
    timeout_ = timeout;
}
Timeout Port::PortImpl::getTimeout() const { return timeout_; }

void Port::PortImpl::setBaudrate(std::uint64_t baudrate) {
    record("baud " + std::to_string(baudrate));
    baudrate_ = baudrate;
}
std::uint64_t Port::PortImpl::getBaudrate() const { return baudrate_; }
void Port::PortImpl::setByteSize(ByteSize_t bytesize) {
    record("bytesize " + std::to_string(bytesize));
    bytesize_ = bytesize;
}
ByteSize_t Port::PortImpl::getByteSize() const { return bytesize_; }
void Port::PortImpl::setParity(Parity_t parity) {
    record("parity " + std::to_string(parity));
    parity_ = parity;
}
Parity_t Port::PortImpl::getParity() const { return parity_; }
void Port::PortImpl::setStopBits(StopBits_t stopbits) {
    record("stopbits " + std::to_string(stopbits));
    stopbits_ = stopbits;
}
StopBits_t Port::PortImpl::getStopBits() const { return stopbits_; }
void Port::PortImpl::setFlowControl(FlowControl_t flowcontrol) {
    record("flow " + std::to_string(flowcontrol));
    flowcontrol_ = flowcontrol;
}
FlowControl_t Port::PortImpl::getFlowControl() const { return flowcontrol_; }

void Port::PortImpl::flush() { record("flush"); }
void Port::PortImpl::flushInput() {}
void Port::PortImpl::flushOutput() {}
void Port::PortImpl::sendBreak(int) {}
void Port::PortImpl::setBreak(bool) {}
void Port::PortImpl::setRTS(bool level) { record(level ? "rts 1" : "rts 0"); }
void Port::PortImpl::setDTR(bool level) { record(level ? "dtr 1" : "dtr 0"); }
bool Port::PortImpl::waitForChange() { return true; }
bool Port::PortImpl::getCTS() { return false; }
bool Port::PortImpl::getDSR() { return false; }
bool Port::PortImpl::getRI() { return false; }
bool Port::PortImpl::getCD() { return false; }

void Port::PortImpl::readLock() {}
void Port::PortImpl::readUnlock() {}
void Port::PortImpl::writeLock() {}
void Port::PortImpl::writeUnlock() {}

std::uint64_t Port::PortImpl::getLastErrorCode() const { return lastErrorCode_; }
std::string Port::PortImpl::getLastErrorDescription() const { return lastErrorDescription_; }
void Port::PortImpl::setLastErrorCode(std::uint64_t code) { lastErrorCode_ = code; }
void Port::PortImpl::setLastErrorDescription(const std::string& description) { lastErrorDescription_ = description; }
void Port::PortImpl::resetLastError() {
    lastErrorCode_ = 0;
    lastErrorDescription_.clear();
}

}  // namespace Serial
