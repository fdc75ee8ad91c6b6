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
namespace DebugLoggerNameSpace {
class DebugLogger;
}
class BluetoothSPP;
class Tarvel60x;
namespace Serial {
class Port;
}

class Device {
public:
    // Finds the driver object through the class registry (null before the
    // class is registered: failures are then not recorded).
    Device();
    // The driver closes the session and the port first; a session still
    // running is closed here so that the worker never outlives the object.
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
    // Returns after the worker has finished its pass and left its loop.
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
    // Records a code with a text of its own (the serial port's failures).
    void recordError(long code, const std::wstring& text);

    // Exchange steps (exchange.cpp).
    bool writeStep(const std::string& command, DebugLoggerNameSpace::DebugLogger& log);
    void readStep(std::string& answer, DebugLoggerNameSpace::DebugLogger& log);
    // One read of up to 256 bytes from the transport in use, appended to
    // answer; a failed read adds nothing. Returns the transport's count.
    long readOnce(std::string& answer);

    // Frame helpers (exchange.cpp).
    // The byte at offset as 0..255, or -1 when the answer is shorter.
    static int byteAt(const std::string& answer, std::size_t offset);
    // True when the answer starts with an event frame: bytes 3 and 4 are 2C 09.
    static bool startsWithEvent(const std::string& answer);
    // Removes the first frame (length byte + 4 bytes). A first frame that
    // claims more bytes than the answer holds empties the answer.
    static void dropFirstFrame(std::string& answer);
    // A first frame whose length byte claims more bytes than have arrived is
    // still on its way (a Bluetooth read hands over whatever the link has
    // delivered so far): reads on and appends until the frame is whole or
    // nothing more arrives.
    void completeFirstFrame(std::string& answer);
    // Completes a frame built from its start byte through its last body byte:
    // sets the length byte, appends the checksum and the end byte. False (and
    // the frame left as it was) when the body is longer than a length byte
    // can describe.
    static bool finishFrame(std::string& frame);
    // Appends the checksum over the bytes from offset 1 on, then the end byte.
    static void appendChecksum(std::string& frame);

    // Configuration helper (configuration.cpp): checks a settings answer.
    bool settingsAccepted(std::string& answer, int kind, int code);

    // Tag data helpers (tag_memory.cpp).
    static std::string hexText(const std::string& bytes, std::size_t offset, std::size_t count,
                               bool upper);
    static std::string textToBytes(const std::string& text);
    // Appends the count byte, the PC bytes and the EPC bytes; false when the
    // PC text is shorter than two characters.
    static bool appendSelection(std::string& frame, const std::string& pc, const std::string& epc,
                                int countExtra);
    // Finds the tag-data or user-memory frame at the front of the answer,
    // fetching more data when needed.
    bool scanForDataFrame(std::string& answer, DebugLoggerNameSpace::DebugLogger& log);
    // Sends a tag read command and finds its data frame in the answer; the
    // lines go to the calling read's log scope.
    bool sendAndFindDataFrame(const std::string& frame, std::string& answer,
                              DebugLoggerNameSpace::DebugLogger& log);
    bool writeTagData(std::string& pc, std::string& epc, std::string& data, bool userBank,
                      DebugLoggerNameSpace::DebugLogger& log);
    bool waitForWrite(const std::string& epc, const std::string& tid, const std::string& data,
                      std::int64_t timeout, bool userBank, DebugLoggerNameSpace::DebugLogger& log);

    // Session helper (session.cpp): sends a fixed frame, true when the
    // reader accepted it (status byte 0).
    bool simpleCommand(const std::string& frame);

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
