// BluetoothSPP: client of Bluetooth's serial port profile. Finds readers
// with the RFCOMM channel of their serial-port service, opens an RFCOMM
// stream to one of them and reads and writes bytes on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/mutex.h"

// One device found by a search.
struct BTDeviceInfo {
    std::string address;  // "00:11:22:33:44:55", upper-case hex
    std::string name;     // the device's user-friendly name
    int channel = 0;      // RFCOMM channel of the serial-port service; <= 0 when none
};

class BluetoothSPP {
public:
    // Result codes of connect() and find().
    enum Result {
        Ok = 0,
        BadAddress = 1,
        NoAdapter = 2,       // produced by the Windows form only
        NoAnswer = 3,        // produced by the Windows form only
        ConnectFailed = 5,   // no connection after 10 attempts
        SetupFailed = 6,     // adapter, pipe, socket, channel 0, inquiry, or no Bluetooth library
    };

    BluetoothSPP();
    ~BluetoothSPP();
    BluetoothSPP(const BluetoothSPP&) = delete;
    BluetoothSPP& operator=(const BluetoothSPP&) = delete;

    // Opens the RFCOMM stream; a stream already open is closed first.
    int connect(const std::string& address, int channel);
    // Ends the stream and wakes a read() waiting in another thread.
    void close();

    // Waits up to 250 ms; bytes read, 0 when nothing arrived (or close() woke
    // the wait, or the peer has closed the stream), -1 on failure and when
    // not connected.
    int read(std::uint8_t* buffer, int size);
    // Reads up to size bytes (at most 64 KiB in one call) into data, which
    // is cleared first.
    int read(std::string& data, std::uint64_t size);
    // One system write, no waiting; bytes written, -1 on failure and when not
    // connected. A peer that has gone gives -1, never a signal.
    int write(const std::uint8_t* data, int size);
    int write(const std::string& data);

    void setLastError(int code);

    // RFCOMM channel of the device's serial-port service: positive when
    // found, -1 when no service record names one, 0 when no SDP session can
    // be opened.
    static int searchSdpPort(const std::string& address);
    // Inquiry of about 10 s and then, per device, its name and channel;
    // appends the devices that gave their name, in inquiry order, without
    // clearing the vector first. Blocks the calling thread throughout.
    static int find(std::vector<BTDeviceInfo>& devices);

private:
    friend struct BluetoothSPPTestDoor;  // tests give the client a stand-in stream

    // Takes a connected stream socket: makes the wake-up pipe and stores
    // both, ending a stream still attached. False (socket closed) when no
    // pipe can be made.
    bool attachStream(int socket);
    // Ends the attached stream, if any: wakes a waiting read() and retires
    // the descriptors. Called with m_descriptorLock held.
    void endStreamLocked();
    // read() and write() use the descriptors between these two calls.
    bool beginStreamUse(int& socket, int& wakeReadEnd);
    void endStreamUse();
    // Closes retired descriptors; called with m_descriptorLock held and no
    // stream user left.
    void closeRetiredDescriptors();

    int m_lastError = 0;
    int m_socket = 0;          // 0: not connected
    int m_wakePipe[2] = {-1, -1};

    // read() waits on the socket and the pipe without holding the lock, so
    // close() and connect() hand the descriptors of an ended stream to
    // m_retired and the last user closes them: a descriptor number is never
    // reused while a wait still watches it, and no pipe outlives its use.
    Mutex m_descriptorLock;
    int m_streamUsers = 0;
    std::vector<int> m_retired;
};
