// BluetoothSPP: client of Bluetooth's serial port profile. Finds readers
// with the RFCOMM channel of their serial-port service, opens an RFCOMM
// stream to one of them and reads and writes bytes on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

    int connect(const std::string& address, int channel);
    void close();

    // Waits up to 250 ms; bytes read, 0 when nothing arrived (or close() woke
    // the wait), -1 on failure.
    int read(std::uint8_t* buffer, int size);
    int read(std::string& data, std::uint64_t size);
    // One system write, no waiting; bytes written or -1.
    int write(const std::uint8_t* data, int size);
    int write(const std::string& data);

    void setLastError(int code);

    static int searchSdpPort(const std::string& address);
    static int find(std::vector<BTDeviceInfo>& devices);

private:
    friend struct BluetoothSPPTestDoor;  // tests give the client a stand-in stream

    int m_lastError = 0;
    int m_socket = 0;          // 0: not connected
    int m_wakePipe[2] = {-1, -1};
};
