// Device: the RFID session. Opening and closing it on the reader, the worker
// thread that turns trigger presses into tag packages and announces them to
// the host, the keep-alive, and the process-wide package numbers.
#include "device/device.h"

#include <atomic>

#include "driver/errors.h"
#include "driver/tarvel60x.h"
#include "support/debug_logger.h"
#include "support/sleep.h"
#include "support/string_convert.h"
#include "support/thread.h"
#include "support/timer.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

const std::string kEpc2UsbFrame("\x5A\x05\x01\x0C\x0A\x01\xFF\xE3\x7E", 9);
const std::string kEnableEventsFrame("\x5A\x07\x01\x09\x20\x02\x67\x01\xFF\x65\x7E", 11);
const std::string kDisableEventsFrame("\x5A\x07\x01\x09\x20\x02\x67\x00\xFF\x66\x7E", 11);
const std::string kEnableHostModeFrame("\x5A\x05\x01\x0B\x30\x01\xFF\xBE\x7E", 9);
const std::string kKeepAliveFrame("\x5A\x04\x01\x09\x05\xFF\xED\x7E", 8);

// Numbers the tag packages of the whole process, across devices and
// sessions; the workers of several readers draw from it at once.
std::atomic<std::int64_t> packageCounter{0};

constexpr unsigned kWorkerPauseMs = 200;
constexpr double kKeepAlivePeriodS = 20.0;
constexpr unsigned kUserMemRetryPauseMs = 100;
constexpr int kUserMemReads = 3;
// A trigger press: an event frame of at least this many bytes with "N" at byte 12.
constexpr std::size_t kPressFrameMin = 17;
constexpr int kPressEvent = 'N';

constexpr int kWriteIdle = 0;
constexpr int kWriteWaiting = 1;
constexpr int kWritePressed = 3;

std::string tagXml(const std::string& tid, const std::string& epc, const std::string& user) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Table>\n\t<Tag TID=\"";
    xml += tid;
    xml += "\" EPC=\"";
    xml += epc;
    xml += "\" USER=\"";
    xml += user;
    xml += "\"/>\n</Table>\n";
    return xml;
}

}  // namespace

bool Device::simpleCommand(const std::string& frame) {
    std::string answer;
    return sendCommand(frame, answer, 10, 5, true) && !answer.empty() && byteAt(answer, 5) == 0;
}

bool Device::epc2Usb() {
    DebugLogger log("epc2Usb");
    return simpleCommand(kEpc2UsbFrame);
}

bool Device::enableEvents() {
    DebugLogger log("enableEvents");
    return simpleCommand(kEnableEventsFrame);
}

bool Device::disableEvents() {
    DebugLogger log("disableEvents");
    return simpleCommand(kDisableEventsFrame);
}

bool Device::enableHostMode() {
    DebugLogger log("enableHostMode");
    return simpleCommand(kEnableHostModeFrame);
}

bool Device::keepAlive() {
    DebugLogger log("keepAlive");
    std::string answer;
    return sendCommand(kKeepAliveFrame, answer, 1, 1, false);
}

bool Device::openSession() {
    DebugLogger log("openSession");
    MutexLock exchange(exchangeMutex);
    if (isSessionOpen() || workerThread != nullptr)
        return false;
    log.message(' ', "Try open session");
    // Only a reader on a USB serial port is told to report on that port.
    if (linkType == 0 && lineControl && !epc2Usb()) {
        log.message('E', "epc2Usb fail");
        recordError(Errors::NoContact);
        return false;
    }
    if (!enableEvents()) {
        log.message('E', "enableEvents fail");
        recordError(Errors::NoContact);
        return false;
    }
    if (!enableHostMode()) {
        log.message('E', "enableHostMode fail");
        recordError(Errors::NoContact);
        return false;
    }
    log.message(' ', "Start worker thread");
    {
        MutexLock session(sessionMutex);
        sessionOpen = true;
    }
    workerThread = new Thread(&Device::workerMember, this);
    // The worker runs until the session flag drops, so a thread that is not
    // joinable here was never started: the session is not open.
    if (!workerThread->joinable()) {
        delete workerThread;
        workerThread = nullptr;
        MutexLock session(sessionMutex);
        sessionOpen = false;
        return false;
    }
    return true;
}

bool Device::closeSession() {
    DebugLogger log("closeSession");
    if (!isSessionOpen() || workerThread == nullptr)
        return false;
    log.message(' ', "Disable events");
    {
        MutexLock exchange(exchangeMutex);
        disableEvents();
        MutexLock session(sessionMutex);
        sessionOpen = false;
    }
    log.message(' ', "Join threads");
    workerThread->join();
    delete workerThread;
    workerThread = nullptr;
    return true;
}

std::string Device::getPacket(std::string number) {
    DebugLogger log("getPacket");
    MutexLock exchange(exchangeMutex);
    std::string xml;
    const auto found = packages.find(number);
    if (found != packages.end()) {
        xml = std::move(found->second);
        packages.erase(found);
    }
    return xml;
}

void Device::workerMember(void* device) {
    static_cast<Device*>(device)->worker();
}

void Device::worker() {
    DebugLogger log("worker");
    Timer keepAliveTimer;
    keepAliveTimer.restart();
    while (isSessionOpen()) {
        bool pressed = false;
        {
            MutexLock exchange(exchangeMutex);
            std::string answer;
            nextAnswer(answer);
            // A press that arrives in pieces is still a press.
            if (startsWithEvent(answer))
                completeFirstFrame(answer);
            pressed = answer.size() >= kPressFrameMin && startsWithEvent(answer) &&
                      byteAt(answer, 12) == kPressEvent;
        }
        if (pressed) {
            log.message(' ', "Key pressed event");
            trigKeyPressed();
        }
        update1CQueue();
        if (keepAliveTimer.elapsed() > kKeepAlivePeriodS) {
            // The keep-alive goes out under the exchange lock as well, so that
            // it never interleaves with a tag write on the host's thread.
            MutexLock exchange(exchangeMutex);
            keepAlive();
            keepAliveTimer.restart();
        }
        sleepMilliseconds(kWorkerPauseMs);
    }
}

void Device::trigKeyPressed() {
    DebugLogger log("trigKeyPressed");
    MutexLock exchange(exchangeMutex);
    {
        MutexLock state(writeStateMutex);
        // A tag write waits for this press: hand it over instead of reading.
        if (writeState == kWriteWaiting) {
            writeState = kWritePressed;
            return;
        }
        if (writeState != kWriteIdle)
            return;
    }
    std::string pc, epc, tid;
    if (!readEPCData(pc, epc, tid))
        return;
    log.message(' ', "Readed EPC: [%s]", epc.c_str());
    log.message(' ', "Readed TID: [%s]", tid.c_str());
    std::string user;
    for (int read = 1; !readUserMem(pc, epc, user) && read < kUserMemReads; ++read)
        sleepMilliseconds(kUserMemRetryPauseMs);

    const std::string number = std::to_string(++packageCounter);
    const std::string xml = tagXml(tid, epc, user);
    log.message(' ', "Package to 1C: [%s]", xml.c_str());
    packages[number] = xml;
    packageQueue.push_back(number);
}

void Device::update1CQueue() {
    // Only the worker thread touches the queue. Without a driver object
    // there is nobody to announce to; the numbers wait.
    if (packageQueue.empty() || owner == nullptr)
        return;
    const bool accepted = owner->sendExternalEvent(std::to_wstring(id), L"RFID",
                                                   StringConvert::AnsiToUnicode(packageQueue.front()));
    if (accepted)
        packageQueue.pop_front();
}
