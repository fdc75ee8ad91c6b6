// Device: the reader's frame protocol and the two primitive exchanges,
// sendCommand (write a command, collect its answer with retries) and
// nextAnswer (collect one more answer without writing), with line control.
#include "device/device.h"

#include <cstdint>

#include "bluetooth/bluetooth_spp.h"
#include "driver/errors.h"
#include "driver/tarvel60x.h"
#include "serial/serial_port.h"
#include "support/debug_logger.h"
#include "support/sleep.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

// One read from the transport returns at most this many bytes.
constexpr std::size_t kReadSize = 256;
// Writes that take no byte before the write step gives up.
constexpr int kEmptyWriteBudget = 5;
// The length byte counts itself and the body, so a body holds at most 254 bytes.
constexpr std::size_t kMaxBody = 254;
// Pauses of the exchange.
constexpr unsigned kBluetoothWritePauseMs = 10;
constexpr unsigned kBluetoothNextAnswerPauseMs = 150;
constexpr unsigned kSerialNextAnswerPauseMs = 50;

constexpr int kEventKind = 0x2C;
constexpr int kEventCode = 0x09;
constexpr int kEventDiscarded = 'F';

}  // namespace

void Device::recordError(long code) {
    if (owner != nullptr)
        owner->setError(code, Errors::text(code));
}

void Device::recordError(long code, const std::wstring& text) {
    if (owner != nullptr)
        owner->setError(code, text);
}

int Device::byteAt(const std::string& answer, std::size_t offset) {
    return offset < answer.size() ? static_cast<std::uint8_t>(answer[offset]) : -1;
}

bool Device::startsWithEvent(const std::string& answer) {
    return byteAt(answer, 3) == kEventKind && byteAt(answer, 4) == kEventCode;
}

void Device::dropFirstFrame(std::string& answer) {
    // Without a length byte, or with one that claims more than was received,
    // the frame cannot be told apart from what follows: nothing of it is usable.
    const int length = byteAt(answer, 1);
    if (length < 0 || static_cast<std::size_t>(length) + 4 > answer.size()) {
        answer.clear();
        return;
    }
    answer.erase(0, static_cast<std::size_t>(length) + 4);
}

void Device::completeFirstFrame(std::string& answer) {
    const int length = byteAt(answer, 1);
    if (length < 0)
        return;
    const std::size_t whole = static_cast<std::size_t>(length) + 4;
    // Every read that adds something brings the frame closer, so this ends
    // after at most one read per missing byte.
    std::string more;
    while (answer.size() < whole && nextAnswer(more))
        answer += more;
}

void Device::appendChecksum(std::string& frame) {
    std::uint32_t sum = 0x10000;
    for (std::size_t i = 1; i < frame.size(); ++i)
        sum -= static_cast<std::uint8_t>(frame[i]);
    sum &= 0xFFFF;
    frame.push_back(static_cast<char>((sum >> 8) & 0xFF));
    frame.push_back(static_cast<char>(sum & 0xFF));
    frame.push_back(static_cast<char>(0x7E));
}

bool Device::finishFrame(std::string& frame) {
    if (frame.size() < 2 || frame.size() - 2 > kMaxBody)
        return false;
    frame[1] = static_cast<char>(frame.size() - 1);
    appendChecksum(frame);
    return true;
}

long Device::readOnce(std::string& answer) {
    std::uint8_t buffer[kReadSize];
    long count = 0;
    if (linkType != 0) {
        count = bluetooth->read(buffer, static_cast<int>(kReadSize));
    } else {
        count = static_cast<long>(port->read(buffer, kReadSize));
    }
    if (count > 0) {
        // A transport never hands back more than asked; should one claim to,
        // only the buffer's bytes exist.
        const std::size_t taken = static_cast<std::size_t>(count) < kReadSize ? static_cast<std::size_t>(count) : kReadSize;
        answer.append(reinterpret_cast<const char*>(buffer), taken);
    }
    return count;
}

bool Device::writeStep(const std::string& command, DebugLogger& log) {
    std::string remaining = command;
    int budget = kEmptyWriteBudget;
    for (;;) {
        log.message(' ', "Write data");
        long count = 0;
        if (linkType != 0) {
            count = bluetooth->write(remaining);
            sleepMilliseconds(kBluetoothWritePauseMs);
        } else {
            // The reader listens while DTR and RTS are low: let what is queued
            // go out first, then drop both lines for the frame.
            if (lineControl) {
                port->flush();
                port->setDTR(false);
                port->setRTS(false);
            }
            count = static_cast<long>(port->write(remaining));
        }
        log.message(' ', "Written %i bytes of %i", static_cast<int>(count), static_cast<int>(remaining.size()));
        if (count < 0)
            return false;
        if (static_cast<std::size_t>(count) >= remaining.size())
            return true;
        if (count == 0) {
            if (--budget == 0)
                return false;
            continue;
        }
        remaining.erase(0, static_cast<std::size_t>(count));
    }
}

void Device::readStep(std::string& answer, DebugLogger& log) {
    answer.clear();
    log.message(' ', "Read data");
    if (linkType == 0 && lineControl) {
        // Both lines high: the reader may answer now.
        port->setDTR(true);
        port->setRTS(true);
    }
    const long count = readOnce(answer);
    log.message(' ', "Readed %i bytes", static_cast<int>(count));
}

bool Device::sendCommand(const std::string& command, std::string& answer, std::int32_t attempts,
                         std::int32_t resendPeriod, bool awaitAnswer) {
    DebugLogger log("sendCommand");
    log.message(' ', "Command size: %i", static_cast<int>(command.size()));
    // Callers pass at least 1 for both; anything less is taken as 1 so that
    // the loop always ends and the re-send test never divides by zero.
    if (attempts < 1)
        attempts = 1;
    if (resendPeriod < 1)
        resendPeriod = 1;
    if (awaitAnswer)
        answer.clear();

    std::int32_t attempt = 0;
    bool sendNow = true;
    for (;;) {
        if (sendNow && !writeStep(command, log)) {
            log.message('E', "Cant send command");
            recordError(Errors::CommandNotSent);
            return false;
        }
        ++attempt;
        sendNow = attempt % resendPeriod == 0;
        if (!awaitAnswer)
            return true;

        readStep(answer, log);
        // An event frame in front of the answer is not the answer: drop it,
        // taken whole first so that its rest is not handed on as the answer.
        // Only the first frame is examined.
        if (answer.size() >= 5 && startsWithEvent(answer)) {
            completeFirstFrame(answer);
            dropFirstFrame(answer);
        }
        if (!answer.empty())
            return true;
        if (attempt >= attempts) {
            recordError(Errors::NoAnswer);
            return false;
        }
    }
}

bool Device::nextAnswer(std::string& answer) {
    for (;;) {
        answer.clear();
        if (linkType != 0) {
            sleepMilliseconds(kBluetoothNextAnswerPauseMs);
        } else {
            sleepMilliseconds(kSerialNextAnswerPauseMs);
            if (lineControl) {
                port->setDTR(true);
                port->setRTS(true);
            }
        }
        readOnce(answer);
        // An "F" event carries nothing the engine uses: skip it, and when
        // nothing else came with it, wait for the next read.
        if (answer.size() > 17 && startsWithEvent(answer) && byteAt(answer, 12) == kEventDiscarded) {
            completeFirstFrame(answer);
            dropFirstFrame(answer);
            if (answer.empty())
                continue;
        }
        return !answer.empty();
    }
}
