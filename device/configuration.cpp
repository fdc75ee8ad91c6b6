// Device: the commands that change the reader's own behaviour: buzzer,
// good-read signal and vibrator settings, factory reset with its test beep,
// and pairing a 3610 Bluetooth receiver with its reader.
#include "device/device.h"

#include "driver/errors.h"
#include "support/debug_logger.h"
#include "support/sleep.h"
#include "support/timer.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

const std::string kTestBeepOn("\x5A\x0A\x01\x09\x08\x03\x01\x01\x01\x00\x01\xFF\xDD\x7E", 14);
const std::string kTestBeepOff("\x5A\x0A\x01\x09\x08\x03\x01\x00\x01\x00\x01\xFF\xDE\x7E", 14);
const std::string kFactoryReset("\x5A\x06\x01\x09\x10\x00\x00\xFF\xE0\x7E", 10);
const std::string kReceiverPoll("\x5A\x04\x01\x02\x06\xFF\xF3\x7E", 8);
// Mode switch of the receiver: 5A 14 01 0A 06 60, fifteen zero bytes, FF 7B 7E.
const std::string kReceiverModeSwitch = std::string("\x5A\x14\x01\x0A\x06\x60", 6) + std::string(15, '\0') +
                                        std::string("\xFF\x7B\x7E", 3);

constexpr int kSettingsKind = 0x19;
constexpr int kReceiverKind = 0x1A;
constexpr int kReceiverPollKind = 0x12;
// A poll answer longer than this reports the receiver connected to its reader.
constexpr std::size_t kConnectedAnswerMin = 25;
// The receiver's serial number is exactly this long; the frame's length byte is fixed for it.
constexpr std::size_t kReceiverSerialLength = 9;
constexpr double kReceiverConnectTimeoutS = 20.0;
constexpr unsigned kReceiverPollPauseMs = 100;

char low8(long value) { return static_cast<char>(value & 0xFF); }
char flag(bool value) { return value ? '\x01' : '\x00'; }

}  // namespace

// The settings exchange: the answer must be of kind `kind` answering
// command `code`; when the first frame is something else (an event left
// over, say), one more answer is read and must answer `code`.
bool Device::settingsAccepted(std::string& answer, int kind, int code) {
    if (!(byteAt(answer, 3) == kind && byteAt(answer, 4) == code)) {
        nextAnswer(answer);
        if (byteAt(answer, 4) != code)
            return false;
    }
    return byteAt(answer, 5) == 0;
}

bool Device::setBuzzerConfig(std::int32_t volume, bool alarm, bool goodReadBeep) {
    DebugLogger log("setBuzzerConfig");
    std::string frame("\x5A\x0A\x01\x09\x08", 5);
    frame += low8(volume);
    frame += flag(alarm);
    frame += '\x00';
    frame += flag(goodReadBeep);
    frame += '\x00';
    frame += '\x01';
    appendChecksum(frame);
    std::string answer;
    if (!sendCommand(frame, answer, 10, 5, true))
        return false;
    if (settingsAccepted(answer, kSettingsKind, 0x08))
        return true;
    recordError(Errors::SendSettingsFailed);
    return false;
}

bool Device::setGoodReadConfig(std::int32_t frequency, std::int32_t duration) {
    DebugLogger log("setGoodReadConfig");
    std::string frame("\x5A\x06\x01\x09\x09", 5);
    frame += low8(frequency);
    frame += low8(duration);
    appendChecksum(frame);
    std::string answer;
    if (!sendCommand(frame, answer, 10, 5, true))
        return false;
    if (settingsAccepted(answer, kSettingsKind, 0x09))
        return true;
    recordError(Errors::SendSettingsFailed);
    return false;
}

bool Device::setVibratorConfig(bool enabled, std::int32_t duration) {
    DebugLogger log("setVibratorConfig");
    std::string frame("\x5A\x06\x01\x09\x0B", 5);
    frame += flag(enabled);
    frame += low8(duration);
    appendChecksum(frame);
    std::string answer;
    if (!sendCommand(frame, answer, 10, 5, true))
        return false;
    if (settingsAccepted(answer, kSettingsKind, 0x0B))
        return true;
    recordError(Errors::SendSettingsFailed);
    return false;
}

bool Device::testBeep() {
    DebugLogger log("testBeep");
    std::string answer;
    bool result = sendCommand(kTestBeepOn, answer, 10, 5, true) && !answer.empty() && byteAt(answer, 5) == 0;
    answer.clear();
    // A refused second frame does not undo an accepted first one.
    if (sendCommand(kTestBeepOff, answer, 10, 5, true) && !answer.empty() && byteAt(answer, 5) == 0)
        result = true;
    return result;
}

bool Device::factoryReset() {
    DebugLogger log("factoryReset");
    std::string answer;
    if (sendCommand(kFactoryReset, answer, 10, 5, true) && !answer.empty() && byteAt(answer, 5) == 0)
        return true;
    recordError(Errors::NoContact);
    return false;
}

bool Device::set3610Target(const std::string& serial) {
    DebugLogger log("set3610Target");
    // The frame's length byte is fixed for a nine-character serial number;
    // any other length would go out as a malformed frame.
    if (serial.size() != kReceiverSerialLength) {
        log.message('E', "3610 serial number send error");
        recordError(Errors::Send3610SerialFailed);
        return false;
    }
    std::string frame("\x5A\x0E\x01\x0A\x04\x01", 6);
    frame += serial;
    appendChecksum(frame);
    std::string answer;
    if (!sendCommand(frame, answer, 10, 5, true))
        return false;
    if (settingsAccepted(answer, kReceiverKind, 0x04))
        return true;
    log.message('E', "3610 serial number send error");
    recordError(Errors::Send3610SerialFailed);
    return false;
}

bool Device::enable3610() {
    DebugLogger log("enable3610");
    Timer timer;
    timer.restart();
    std::string answer;
    for (;;) {
        if (sendCommand(kReceiverPoll, answer, 10, 5, true)) {
            if (byteAt(answer, 3) != kReceiverPollKind)
                nextAnswer(answer);
            if (answer.size() >= kConnectedAnswerMin && byteAt(answer, 5) == 0)
                break;
        }
        // Tested only after a poll that did not report the connection.
        if (timer.elapsed() > kReceiverConnectTimeoutS) {
            log.message(' ', "timeout");
            recordError(Errors::Connect3610Timeout);
            return false;
        }
        sleepMilliseconds(kReceiverPollPauseMs);
    }
    log.message(' ', "connected");
    // Accepted from an answer of another kind (read by nextAnswer): the
    // receiver has not confirmed in its own terms, so no mode switch.
    if (byteAt(answer, 3) != kReceiverPollKind)
        return false;
    answer.clear();
    if (!sendCommand(kReceiverModeSwitch, answer, 10, 5, true)) {
        recordError(Errors::Switch3610ModeFailed);
        return false;
    }
    return true;
}
