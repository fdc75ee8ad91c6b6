// Device: one Tarvel 60x reader. The frame exchange (exchange.cpp), the
// connection (connection.cpp), the reader's configuration commands
// (configuration.cpp), the tag memory operations (tag_memory.cpp) and the
// session with its worker thread (session.cpp). Failures are recorded in the
// driver's error state through `owner`; nothing here throws.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "support/mutex.h"

class Thread;
class BluetoothSPP;
class Tarvel60x;
namespace Serial {
class Port;
}

class Device {
public:
    Device();
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Connection (connection.cpp).
    void setID(std::int64_t id);
    std::int64_t getID() const;
    void setPort(const std::string& name, std::int32_t channel);
    void setConnectionType(std::int64_t type);
    void configurePort();
    bool openPort();
    bool closePort();
    bool getInfo(std::string& text);
    bool isSessionOpen();

    // Exchange (exchange.cpp).
    bool sendCommand(const std::string& command, std::string& answer, std::int32_t attempts,
                     std::int32_t resendPeriod, bool awaitAnswer);
    bool nextAnswer(std::string& answer);

    // Configuration (configuration.cpp).
    bool setBuzzerConfig(std::int32_t volume, bool alarm, bool goodReadBeep);
    bool setGoodReadConfig(std::int32_t frequency, std::int32_t duration);
    bool setVibratorConfig(bool enabled, std::int32_t duration);
    bool testBeep();
    bool factoryReset();
    bool set3610Target(const std::string& serial);
    bool enable3610();

    // Tag memory (tag_memory.cpp).
    bool readEPCData(std::string& pc, std::string& epc, std::string& tid);
    bool readUserMem(std::string& pc, std::string& epc, std::string& user);
    bool writeEPCData(std::string& pc, std::string& epc, std::string& data);
    bool writeUserData(std::string& pc, std::string& epc, std::string& data);
    bool waitForWriteEPC(std::string epc, std::string tid, std::string data, std::int64_t timeout);
    bool waitForWriteUser(std::string epc, std::string tid, std::string data, std::int64_t timeout);

    // Session (session.cpp).
    bool openSession();
    bool closeSession();
    std::string getPacket(std::string number);
    bool epc2Usb();
    bool enableEvents();
    bool disableEvents();
    bool enableHostMode();
    bool keepAlive();

private:
    void worker();
    static void workerMember(void* device);
    void trigKeyPressed();
    void update1CQueue();

    // Records code and its text in the driver's error state (when there is an owner).
    void recordError(long code);

    Mutex exchangeMutex;
    Thread* workerThread = nullptr;
    Mutex sessionMutex;
    bool sessionOpen = false;
    Mutex writeStateMutex;
    std::int32_t writeState = 0;
    Serial::Port* port = nullptr;
    BluetoothSPP* bluetooth = nullptr;
    std::int64_t id = 0;
    std::int64_t linkType = 0;
    std::int32_t channel = 0;
    std::string portName;
    bool lineControl = true;
    Tarvel60x* owner = nullptr;
    std::map<std::string, std::string> packages;
    std::deque<std::string> packageQueue;
};
