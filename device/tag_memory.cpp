// Device: reading and writing the memory of the tag in front of the reader
// (PC, EPC and TID; user memory; EPC and user-memory writes), and the tag
// write that waits for the trigger and checks the tag's TID first.
#include "device/device.h"

#include "driver/errors.h"
#include "support/debug_logger.h"
#include "support/sleep.h"
#include "support/timer.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

const std::string kReadEpcFrame("\x5A\x05\x01\x0B\x36\x01\xFF\xB8\x7E", 9);
// Start of the frames that address one tag: start byte, length byte (set
// when the frame is finished), 01 0B and the command, five zero bytes.
const std::string kReadUserStart("\x5A\x00\x01\x0B\x32\x00\x00\x00\x00\x00", 10);
const std::string kWriteStart("\x5A\x00\x01\x0B\x33\x00\x00\x00\x00\x00", 10);
const std::string kReadUserTrailer("\x03\x00\x00\x00\x00\x03", 6);
// Memory bank 1 (EPC) and 3 (user memory) of the tag.
const std::string kWriteEpcTrailer("\x00\x00\x01\x00\x04\x00", 6);
const std::string kWriteUserTrailer("\x00\x00\x03\x00\x00\x00", 6);

constexpr int kDataKind = 0x3B;
constexpr int kReadEpcCode = 0x36;
constexpr int kReadUserCode = 0x32;
constexpr int kWriteCode = 0x33;
// The length byte of a user-memory answer that carries no data.
constexpr int kNoDataLength = 5;
// A found tag-data or user-memory frame is longer than this.
constexpr std::size_t kDataFrameMin = 20;
// A TID text of this many characters or fewer is not a TID.
constexpr std::size_t kTidTextMin = 10;
// The write addresses the tag with this PC (a 96-bit EPC).
const char* const kWritePc = "3400";

constexpr int kWriteWaiting = 1;
constexpr int kWritePressed = 3;
constexpr int kWriteIdle = 0;
constexpr double kDefaultWriteTimeoutS = 600.0;
constexpr unsigned kWritePollMs = 10;

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One group of one or two characters as a byte; a group that is not
// hexadecimal gives 0.
char groupByte(const std::string& group) {
    int value = 0;
    for (char c : group) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return 0;
        value = value * 16 + digit;
    }
    return static_cast<char>(value & 0xFF);
}

}  // namespace

std::string Device::hexText(const std::string& bytes, std::size_t offset, std::size_t count, bool upper) {
    static const char kLower[] = "0123456789abcdef";
    static const char kUpper[] = "0123456789ABCDEF";
    const char* digits = upper ? kUpper : kLower;
    std::string text;
    for (std::size_t i = offset; i < offset + count && i < bytes.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::string Device::textToBytes(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes += groupByte(text.substr(i, 2));
    return bytes;
}

bool Device::appendSelection(std::string& frame, const std::string& pc, const std::string& epc, int countExtra) {
    if (pc.size() < 2)
        return false;
    frame += static_cast<char>(((pc.size() + epc.size()) / 2 + countExtra) & 0xFF);
    frame += groupByte(pc.substr(0, 2));
    frame += groupByte(pc.substr(2, 2));
    frame += textToBytes(epc);
    return true;
}

bool Device::scanForDataFrame(std::string& answer, DebugLogger& log) {
    for (;;) {
        while (byteAt(answer, 3) != kDataKind) {
            if (answer.empty())
                return false;
            log.message(' ', "Search data...");
            // A frame still arriving is taken whole before it is dropped, so
            // that its rest is not mistaken for the next frame.
            completeFirstFrame(answer);
            dropFirstFrame(answer);
            if (answer.empty())
                break;
        }
        if (byteAt(answer, 3) == kDataKind) {
            // The tag data may arrive in pieces: judge it once it is whole.
            completeFirstFrame(answer);
            return answer.size() >= kDataFrameMin;
        }
        log.message(' ', "Read more data...");
        if (!nextAnswer(answer)) {
            log.message(' ', "No data");
            return false;
        }
    }
}

bool Device::sendAndFindDataFrame(const std::string& frame, std::string& answer, DebugLogger& log) {
    if (!sendCommand(frame, answer, 10, 5, true) || answer.empty())
        return false;
    log.message(' ', "Answer length: %i", static_cast<int>(answer.size()));
    log.message(' ', "Parse answer");
    return scanForDataFrame(answer, log);
}

bool Device::readEPCData(std::string& pc, std::string& epc, std::string& tid) {
    DebugLogger log("readEPCData");
    pc.clear();
    epc.clear();
    tid.clear();
    std::string answer;
    if (!sendAndFindDataFrame(kReadEpcFrame, answer, log))
        return false;
    if (byteAt(answer, 4) != kReadEpcCode) {
        recordError(Errors::TagReadFailed);
        return false;
    }
    log.message(' ', "EPC OK");
    const int l = byteAt(answer, 14);
    log.message(' ', "EPC size: %i", l - 2);
    // The counts come from the reader: the EPC (L - 2 bytes from 17), the TID
    // count at 16 + L and the TID after it must all lie within the answer.
    const int t = l >= 2 ? byteAt(answer, 16 + static_cast<std::size_t>(l)) : -1;
    const bool countsFit = t >= 0 && 17 + static_cast<std::size_t>(l) + static_cast<std::size_t>(t) <= answer.size();
    if (countsFit) {
        pc = hexText(answer, 15, 2, false);
        epc = hexText(answer, 17, static_cast<std::size_t>(l) - 2, true);
        // The last two of those bytes are not part of the EPC.
        if (epc.size() >= 4)
            epc.erase(epc.size() - 4);
        tid = hexText(answer, 17 + static_cast<std::size_t>(l), static_cast<std::size_t>(t), true);
    }
    // The reader sends one more frame after the tag data; it carries nothing we use.
    std::string rest;
    nextAnswer(rest);
    if (countsFit && tid.size() >= kTidTextMin)
        return true;
    recordError(Errors::TagReadFailed);
    return false;
}

bool Device::readUserMem(std::string& pc, std::string& epc, std::string& user) {
    DebugLogger log("readUserMem");
    user.clear();
    std::string frame = kReadUserStart;
    if (!appendSelection(frame, pc, epc, 0)) {
        log.message('!', "Wrong data?");
        recordError(Errors::TagReadFailed);
        return false;
    }
    frame += kReadUserTrailer;
    if (!finishFrame(frame)) {
        recordError(Errors::CommandNotSent);
        return false;
    }
    std::string answer;
    if (!sendAndFindDataFrame(frame, answer, log))
        return false;
    const int d = byteAt(answer, 6);
    const bool fits = d >= 0 && 7 + static_cast<std::size_t>(d) <= answer.size();
    if (byteAt(answer, 4) != kReadUserCode || byteAt(answer, 1) == kNoDataLength || !fits) {
        log.message('!', "Wrong data?");
        recordError(Errors::TagReadFailed);
        return false;
    }
    user = hexText(answer, 7, static_cast<std::size_t>(d), true);
    log.message(' ', "USR OK");
    log.message(' ', "User data: [%s]", user.c_str());
    return true;
}

bool Device::writeTagData(std::string& pc, std::string& epc, std::string& data, bool userBank,
                          DebugLogger& log) {
    const char* refusal = userBank ? "Not writted" : "Wrong data?";
    std::string frame = kWriteStart;
    if (!appendSelection(frame, pc, epc, 2)) {
        log.message('!', "%s", refusal);
        recordError(Errors::TagWriteFailed);
        return false;
    }
    frame += userBank ? kWriteUserTrailer : kWriteEpcTrailer;
    frame += static_cast<char>((data.size() / 2) & 0xFF);
    frame += textToBytes(data);
    frame += '\x00';
    if (!finishFrame(frame)) {
        recordError(Errors::CommandNotSent);
        return false;
    }
    std::string answer;
    if (!sendCommand(frame, answer, 10, 5, true) || answer.empty())
        return false;
    bool written = false;
    if (byteAt(answer, 4) == kWriteCode) {
        written = byteAt(answer, 5) == 0;
    } else {
        nextAnswer(answer);
        written = !answer.empty() && byteAt(answer, 5) == 0 && byteAt(answer, 4) == kWriteCode;
    }
    if (written)
        return true;
    recordError(Errors::TagWriteFailed);
    log.message('!', "%s", refusal);
    return false;
}

bool Device::writeEPCData(std::string& pc, std::string& epc, std::string& data) {
    DebugLogger log("writeEPCData");
    return writeTagData(pc, epc, data, false, log);
}

bool Device::writeUserData(std::string& pc, std::string& epc, std::string& data) {
    DebugLogger log("writeUserData");
    return writeTagData(pc, epc, data, true, log);
}

bool Device::waitForWrite(const std::string& epc, const std::string& tid, const std::string& data,
                          std::int64_t timeout, bool userBank, DebugLogger& log) {
    {
        MutexLock state(writeStateMutex);
        writeState = kWriteWaiting;
    }
    std::string pc = kWritePc;
    const double limit = timeout == 0 ? kDefaultWriteTimeoutS : static_cast<double>(timeout);
    Timer timer;
    timer.restart();
    // The worker passes the trigger press over by setting the state to 3;
    // no exchange lock is held while waiting, so the worker keeps polling.
    for (;;) {
        {
            MutexLock state(writeStateMutex);
            if (writeState == kWritePressed)
                break;
            if (timer.elapsed() > limit) {
                writeState = kWriteIdle;
                recordError(userBank ? Errors::WriteWaitTimeout : Errors::WaitTimeout);
                return false;
            }
        }
        sleepMilliseconds(kWritePollMs);
    }

    MutexLock exchange(exchangeMutex);
    {
        MutexLock state(writeStateMutex);
        writeState = kWriteIdle;
    }
    log.message(' ', "Read before write");
    std::string readPc, readEpc, readTid;
    if (!readEPCData(readPc, readEpc, readTid)) {
        recordError(Errors::NoTagToWrite);
        return false;
    }
    log.message(' ', "Compare tid");
    if (readTid != tid) {
        recordError(Errors::WrongTag);
        return false;
    }
    std::string newEpc = epc;
    std::string newData = data;
    if (!userBank) {
        std::string rest;
        nextAnswer(rest);
    }
    log.message(' ', "OK");
    return userBank ? writeUserData(pc, newEpc, newData) : writeEPCData(pc, newEpc, newData);
}

bool Device::waitForWriteEPC(std::string epc, std::string tid, std::string data, std::int64_t timeout) {
    DebugLogger log("waitForWriteEPC");
    return waitForWrite(epc, tid, data, timeout, false, log);
}

bool Device::waitForWriteUser(std::string epc, std::string tid, std::string data, std::int64_t timeout) {
    DebugLogger log("waitForWriteUser");
    return waitForWrite(epc, tid, data, timeout, true, log);
}
