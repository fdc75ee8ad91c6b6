// Device: construction and destruction, the connection settings, opening
// and closing the transport (serial port or Bluetooth), and the reader probe.
#include "device/device.h"

#include "bluetooth/bluetooth_spp.h"
#include "driver/errors.h"
#include "driver/tarvel60x.h"
#include "serial/serial_port.h"
#include "support/debug_logger.h"
#include "support/string_convert.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

constexpr std::uint32_t kBaudRate = 115200;
// Connection type of the 3610 receiver: a serial port without line control.
constexpr std::int64_t kReceiverConnection = 2;

// The reader's line: reads wait at most 250 ms for what is missing, writes
// at most 250 ms.
Serial::Timeout readerTimeout() {
    Serial::Timeout timeout;
    timeout.interByteTimeout = Serial::Timeout::maxTimeout();
    timeout.readTimeoutConstant = 250;
    timeout.readTimeoutMultiplier = 0;
    timeout.writeTimeoutConstant = 250;
    timeout.writeTimeoutMultiplier = 0;
    return timeout;
}

const std::string kGetInfoFrame("\x5A\x04\x01\x01\x01\xFF\xF9\x7E", 8);

}  // namespace

Device::Device() {
    DebugLogger log("Device");
    // The name is empty, so nothing is opened yet.
    port = new Serial::Port("", kBaudRate, readerTimeout(), Serial::eightbits, Serial::parity_none,
                            Serial::stopbits_one, Serial::flowcontrol_none);
    bluetooth = new BluetoothSPP();
    owner = Tarvel60x::registeredInstance();
}

Device::~Device() {
    DebugLogger log("~Device");
    // The driver closes a running session first. Should it not have, the
    // worker would outlive this object: stop it before anything goes.
    if (workerThread != nullptr)
        closeSession();
    delete port;
    delete bluetooth;
}

void Device::setID(std::int64_t value) { id = value; }

std::int64_t Device::getID() const { return id; }

void Device::setPort(const std::string& name, std::int32_t channelNumber) {
    DebugLogger log("setPort");
    portName = name;
    channel = channelNumber;
}

void Device::setConnectionType(std::int64_t type) {
    if (type == kReceiverConnection) {
        linkType = 0;
        lineControl = false;
    } else {
        linkType = type;
        lineControl = true;
    }
}

void Device::configurePort() {
    if (linkType != 0)
        return;
    port->setPort(portName);
    port->setBaudrate(kBaudRate);
    Serial::Timeout timeout = readerTimeout();
    port->setTimeout(timeout);
    port->setStopBits(Serial::stopbits_one);
    port->setByteSize(Serial::eightbits);
    if (lineControl) {
        port->setFlowControl(Serial::flowcontrol_hardware);
        port->setDTR(true);
        port->setRTS(true);
    }
}

bool Device::openPort() {
    DebugLogger log("openPort");
    configurePort();

    if (linkType != 0) {
        log.message(' ', "Using bluetooth");
        const int result = bluetooth->connect(portName, channel);
        if (result == BluetoothSPP::Ok) {
            log.message(' ', "Bluetooth device connected");
            return true;
        }
        log.message('E', "Connection error: %i", result);
        if (result == BluetoothSPP::NoAdapter)
            recordError(Errors::BluetoothAdapterNotFound);
        else if (result == BluetoothSPP::NoAnswer)
            recordError(Errors::BluetoothDeviceNotFound);
        else
            recordError(Errors::BluetoothConnectFailed);
        return false;
    }

    log.message(' ', "Using serial port");
    // The port keeps its last failure until cleared; only this open's
    // outcome may decide the result.
    port->resetLastError();
    port->open();
    bool opened = true;
    if (port->getLastErrorCode() != 0) {
        const std::string description = port->getLastErrorDescription();
        log.message('E', "Port %s open fail", portName.c_str());
        log.message('E', "Error [%i]: \"%s\"", static_cast<int>(port->getLastErrorCode()), description.c_str());
        recordError(static_cast<long>(port->getLastErrorCode()), StringConvert::AnsiToUnicode(description));
        opened = false;
    } else {
        log.message(' ', "Port %s open successful", portName.c_str());
    }
    port->flush();
    return opened;
}

bool Device::closePort() {
    DebugLogger log("closePort");
    if (linkType != 0) {
        bluetooth->close();
        return true;
    }
    if (!port->isOpen())
        return false;
    port->close();
    return true;
}

bool Device::getInfo(std::string& /*text*/) {
    DebugLogger log("getInfo");
    std::string answer;
    if (sendCommand(kGetInfoFrame, answer, 10, 5, true) && !answer.empty() && byteAt(answer, 5) == 0)
        return true;
    recordError(Errors::NoContact);
    return false;
}

bool Device::isSessionOpen() {
    MutexLock lock(sessionMutex);
    return sessionOpen;
}
