// Serial::Port, the platform-independent facade: forwards every call to its
// PortImpl and builds the line-oriented reads on top of one-byte reads. The
// implementation's declaration comes from T60_SERIAL_PORT_IMPL_HEADER, chosen
// by the build (the platform form, or a scripted form in tests).
#include "serial/serial_port.h"

#include T60_SERIAL_PORT_IMPL_HEADER

namespace Serial {

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

Port::Port(const std::string& port, std::uint32_t baudrate, Timeout timeout, ByteSize_t bytesize,
           Parity_t parity, StopBits_t stopbits, FlowControl_t flowcontrol)
    : pimpl_(new PortImpl(port, baudrate, bytesize, parity, stopbits, flowcontrol)) {
    pimpl_->setTimeout(timeout);
}

Port::~Port() { delete pimpl_; }

void Port::open() { pimpl_->open(); }
void Port::close() { pimpl_->close(); }
bool Port::isOpen() const { return pimpl_->isOpen(); }

std::size_t Port::available() { return pimpl_->available(); }

bool Port::waitReadable() { return pimpl_->waitReadable(pimpl_->getTimeout().readTimeoutConstant); }

void Port::waitByteTimes(std::size_t count) { pimpl_->waitByteTimes(count); }

std::size_t Port::read(std::uint8_t* buffer, std::size_t size) { return pimpl_->read(buffer, size); }

std::size_t Port::readInternal(std::uint8_t* buffer, std::size_t size) { return pimpl_->read(buffer, size); }

std::size_t Port::read(std::vector<std::uint8_t>& buffer, std::size_t size) {
    std::vector<std::uint8_t> scratch(size);
    std::size_t count = readInternal(scratch.data(), size);
    buffer.insert(buffer.end(), scratch.begin(), scratch.begin() + count);
    return count;
}

std::size_t Port::read(std::string& buffer, std::size_t size) {
    std::vector<std::uint8_t> scratch(size);
    std::size_t count = readInternal(scratch.data(), size);
    buffer.append(reinterpret_cast<const char*>(scratch.data()), count);
    return count;
}

std::string Port::read(std::size_t size) {
    std::string buffer;
    read(buffer, size);
    return buffer;
}

// Reads one byte at a time (each byte gets the full time limit of a one-byte
// read) until eol has been read, size bytes have been read, or a byte does not
// come. The terminator stays in the line; an empty eol ends the line after
// its first byte. With size 0 the line is empty and nothing is read.
std::size_t Port::readLine(std::string& buffer, std::size_t size, const std::string& eol) {
    std::string line;
    while (line.size() < size) {
        std::uint8_t byte = 0;
        if (readInternal(&byte, 1) == 0) break;
        line.push_back(static_cast<char>(byte));
        if (endsWith(line, eol)) break;
    }
    buffer.append(line);
    return line.size();
}

std::string Port::readLine(std::size_t size, const std::string& eol) {
    std::string buffer;
    readLine(buffer, size, eol);
    return buffer;
}

// The same byte-by-byte reading over at most size bytes, cut into lines that
// end with eol; the bytes after the last terminator, if any, become the last
// element once a byte does not come or size bytes have been read.
std::vector<std::string> Port::readLines(std::size_t size, const std::string& eol) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t total = 0;
    while (total < size) {
        std::uint8_t byte = 0;
        if (readInternal(&byte, 1) == 0) break;
        ++total;
        line.push_back(static_cast<char>(byte));
        if (endsWith(line, eol)) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::size_t Port::write(const std::uint8_t* data, std::size_t size) { return pimpl_->write(data, size); }

std::size_t Port::write(const std::string& data) {
    return pimpl_->write(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

std::size_t Port::write(const std::vector<std::uint8_t>& data) { return pimpl_->write(data.data(), data.size()); }

std::size_t Port::writeInternal(const std::uint8_t* data, std::size_t size) { return pimpl_->write(data, size); }

void Port::setPort(const std::string& port) {
    if (pimpl_->isOpen()) {
        pimpl_->close();
        pimpl_->setPort(port);
        pimpl_->open();
    } else {
        pimpl_->setPort(port);
    }
}

std::string Port::getPort() const { return pimpl_->getPort(); }

void Port::setTimeout(Timeout& timeout) { pimpl_->setTimeout(timeout); }
Timeout Port::getTimeout() const { return pimpl_->getTimeout(); }

void Port::setBaudrate(std::uint32_t baudrate) { pimpl_->setBaudrate(baudrate); }
std::uint32_t Port::getBaudrate() const { return static_cast<std::uint32_t>(pimpl_->getBaudrate()); }
void Port::setByteSize(ByteSize_t bytesize) { pimpl_->setByteSize(bytesize); }
ByteSize_t Port::getByteSize() const { return pimpl_->getByteSize(); }
void Port::setParity(Parity_t parity) { pimpl_->setParity(parity); }
Parity_t Port::getParity() const { return pimpl_->getParity(); }
void Port::setStopBits(StopBits_t stopbits) { pimpl_->setStopBits(stopbits); }
StopBits_t Port::getStopBits() const { return pimpl_->getStopBits(); }
void Port::setFlowControl(FlowControl_t flowcontrol) { pimpl_->setFlowControl(flowcontrol); }
FlowControl_t Port::getFlowControl() const { return pimpl_->getFlowControl(); }

void Port::flush() { pimpl_->flush(); }
void Port::flushInput() { pimpl_->flushInput(); }
void Port::flushOutput() { pimpl_->flushOutput(); }
void Port::sendBreak(int duration) { pimpl_->sendBreak(duration); }
void Port::setBreak(bool level) { pimpl_->setBreak(level); }
void Port::setRTS(bool level) { pimpl_->setRTS(level); }
void Port::setDTR(bool level) { pimpl_->setDTR(level); }
bool Port::waitForChange() { return pimpl_->waitForChange(); }
bool Port::getCTS() { return pimpl_->getCTS(); }
bool Port::getDSR() { return pimpl_->getDSR(); }
bool Port::getRI() { return pimpl_->getRI(); }
bool Port::getCD() { return pimpl_->getCD(); }

std::uint64_t Port::getLastErrorCode() const { return pimpl_->getLastErrorCode(); }
std::string Port::getLastErrorDescription() const { return pimpl_->getLastErrorDescription(); }
void Port::resetLastError() { pimpl_->resetLastError(); }

}  // namespace Serial
