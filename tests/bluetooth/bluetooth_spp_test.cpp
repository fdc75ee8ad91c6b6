// Bluetooth client: argument checks, a machine without Bluetooth, the stream
// over a stand-in socket pair, and the Bluetooth library opened only late.
#include "bluetooth/bluetooth_spp.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bluetooth/hidden_bluetooth_library.h"
#include "support/mutex.h"

// Gives a client a stream that did not come from an RFCOMM connection.
struct BluetoothSPPTestDoor {
    static bool attach(BluetoothSPP& client, int stream) { return client.attachStream(stream); }
    static int streamUsers(BluetoothSPP& client) {
        MutexLock lock(client.m_descriptorLock);
        return client.m_streamUsers;
    }
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kReaderAddress[] = "00:11:22:33:44:55";
// The keep-alive frame: a typical 8-byte command.
const std::string kCommand("\x5A\x04\x01\x09\x05\xFF\xED\x7E", 8);

int openDescriptorCount() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return -1;
    }
    int count = 0;
    while (readdir(directory) != nullptr) {
        ++count;
    }
    closedir(directory);
    return count;
}

bool bluetoothSocketsWork() {
    const int probe = socket(AF_BLUETOOTH, SOCK_STREAM, 3 /* RFCOMM */);
    if (probe < 0) {
        return false;
    }
    close(probe);
    return true;
}

// The reader's side of a stand-in stream whose other end the client holds.
class StandInReader {
public:
    StandInReader() = default;
    ~StandInReader() { hangUp(); }
    StandInReader(const StandInReader&) = delete;
    StandInReader& operator=(const StandInReader&) = delete;

    bool connect(BluetoothSPP& client) {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            return false;
        }
        m_end = ends[1];
        return BluetoothSPPTestDoor::attach(client, ends[0]);
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::send(m_end, bytes.data(), bytes.size(), 0));
    }
    // Everything that has arrived within the wait; "" on end of stream.
    std::string receive(int waitMilliseconds = 1000) {
        pollfd watched{m_end, POLLIN, 0};
        if (poll(&watched, 1, waitMilliseconds) <= 0) {
            return "<nothing>";
        }
        char buffer[512];
        const ssize_t count = ::recv(m_end, buffer, sizeof buffer, MSG_DONTWAIT);
        return count > 0 ? std::string(buffer, static_cast<std::size_t>(count)) : "";
    }
    void hangUp() {
        if (m_end >= 0) {
            close(m_end);
            m_end = -1;
        }
    }

private:
    int m_end = -1;
};

// A read() that runs in its own thread.
class BackgroundRead {
public:
    explicit BackgroundRead(BluetoothSPP& client)
        : m_thread([this, &client] {
              std::uint8_t buffer[256];
              m_result = client.read(buffer, sizeof buffer);
              m_returned = Clock::now();
          }) {}
    ~BackgroundRead() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int join() {
        m_thread.join();
        return m_result;
    }
    Clock::time_point returned() const { return m_returned; }

private:
    int m_result = -2;
    Clock::time_point m_returned;
    std::thread m_thread;
};

void waitUntilReadWaits(BluetoothSPP& client) {
    while (BluetoothSPPTestDoor::streamUsers(client) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(BluetoothSPPConnect, RefusesBadChannelsAndAddressesWithoutLeavingDescriptors) {
    struct Case {
        const char* address;
        int channel;
        int expected;
    };
    const Case cases[] = {
        {kReaderAddress, 0, BluetoothSPP::SetupFailed},
        {kReaderAddress, 256, BluetoothSPP::SetupFailed},
        {"not an address", 0, BluetoothSPP::SetupFailed},  // the channel is checked first
        {"", 1, BluetoothSPP::BadAddress},
        {"00:11:22:33:44", 1, BluetoothSPP::BadAddress},
        {"00:11:22:33:44:5G", 1, BluetoothSPP::BadAddress},
        {"001122334455", 1, BluetoothSPP::BadAddress},
        {"00-11-22-33-44-55", 1, BluetoothSPP::BadAddress},
        {"00:11:22:33:44:55:66", 1, BluetoothSPP::BadAddress},
        {"0:011:22:33:44:55", 1, BluetoothSPP::BadAddress},
    };
    const int descriptorsBefore = openDescriptorCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " channel " + std::to_string(c.channel));
        BluetoothSPP client;
        EXPECT_EQ(c.expected, client.connect(c.address, c.channel));
        EXPECT_EQ(-1, client.write(kCommand)) << "a refused connect leaves the client unconnected";
    }
    EXPECT_EQ(descriptorsBefore, openDescriptorCount());
}

TEST(BluetoothSPPWithoutBluetooth, FindAnswersSetupFailedAndKeepsTheList) {
    if (bluetoothSocketsWork()) {
        GTEST_SKIP() << "this machine has Bluetooth";
    }
    std::vector<BTDeviceInfo> devices{{"AA:BB:CC:DD:EE:FF", "T60 earlier", 4}};
    const int descriptorsBefore = openDescriptorCount();
    EXPECT_EQ(BluetoothSPP::SetupFailed, BluetoothSPP::find(devices));
    ASSERT_EQ(1u, devices.size());
    EXPECT_EQ("AA:BB:CC:DD:EE:FF", devices[0].address);
    EXPECT_EQ("T60 earlier", devices[0].name);
    EXPECT_EQ(4, devices[0].channel);
    EXPECT_EQ(0, BluetoothSPP::searchSdpPort(kReaderAddress)) << "no SDP session without an adapter";
    EXPECT_EQ(descriptorsBefore, openDescriptorCount());
}

TEST(BluetoothSPPWithoutBluetooth, ConnectWithoutSocketsFailsAndDropsAnEarlierStream) {
    if (bluetoothSocketsWork()) {
        GTEST_SKIP() << "this machine has Bluetooth";
    }
    const int descriptorsBefore = openDescriptorCount();
    {
        BluetoothSPP client;
        EXPECT_EQ(BluetoothSPP::SetupFailed, client.connect(kReaderAddress, 1));
        EXPECT_EQ(BluetoothSPP::SetupFailed, client.connect("0a:1b:2c:3d:4e:5f", 30))
            << "lower-case hex is an address too";

        StandInReader first;
        ASSERT_TRUE(first.connect(client));
        EXPECT_EQ(BluetoothSPP::SetupFailed, client.connect(kReaderAddress, 1));
        EXPECT_EQ("", first.receive()) << "the first stream is closed by the second connect";
        EXPECT_EQ(-1, client.write(kCommand));
    }
    EXPECT_EQ(descriptorsBefore, openDescriptorCount());
}

TEST(BluetoothSPPStream, ReadsWhatArrivesAndWaitsOutSilence) {
    BluetoothSPP client;
    StandInReader reader;
    ASSERT_TRUE(reader.connect(client));

    reader.send(kCommand);
    std::uint8_t buffer[256];
    ASSERT_EQ(8, client.read(buffer, sizeof buffer));
    EXPECT_EQ(kCommand, std::string(reinterpret_cast<char*>(buffer), 8));

    reader.send("abcde");
    std::string data = "left over";
    EXPECT_EQ(3, client.read(data, 3));
    EXPECT_EQ("abc", data);
    EXPECT_EQ(2, client.read(data, 1ull << 40)) << "a huge size reads what is there";
    EXPECT_EQ("de", data);

    const auto start = Clock::now();
    EXPECT_EQ(0, client.read(data, 256));
    const auto waited = Clock::now() - start;
    EXPECT_EQ("", data);
    EXPECT_GE(waited, std::chrono::milliseconds(200)) << "a silent stream is waited on for about 250 ms";
    EXPECT_LT(waited, std::chrono::seconds(5));

    reader.hangUp();
    EXPECT_EQ(0, client.read(buffer, sizeof buffer)) << "a peer that has gone reads as silence";
}

TEST(BluetoothSPPStream, WritesCommandsAndFailsWithoutSignalWhenThePeerHasGone) {
    BluetoothSPP client;
    StandInReader reader;
    ASSERT_TRUE(reader.connect(client));

    EXPECT_EQ(8, client.write(kCommand));
    EXPECT_EQ(kCommand, reader.receive());
    EXPECT_EQ(8, client.write(reinterpret_cast<const std::uint8_t*>(kCommand.data()), 8));
    EXPECT_EQ(kCommand, reader.receive());
    EXPECT_EQ(-1, client.write(nullptr, 8));
    EXPECT_EQ(-1, client.read(nullptr, 8));

    // With the default action a broken-pipe signal would end this process.
    reader.hangUp();
    EXPECT_EQ(-1, client.write(kCommand));
}

TEST(BluetoothSPPStream, CloseWakesAWaitingReadAtOnce) {
    // Without the wake-up a read would run to its 250 ms end; with it, it
    // returns as soon as close() is called. The median of a few rounds keeps
    // a stalled scheduler from deciding the result.
    std::vector<double> lateness;
    for (int round = 0; round < 5; ++round) {
        BluetoothSPP client;
        StandInReader reader;
        ASSERT_TRUE(reader.connect(client));
        BackgroundRead read(client);
        waitUntilReadWaits(client);
        const auto closedAt = Clock::now();
        client.close();
        EXPECT_EQ(0, read.join());
        lateness.push_back(std::chrono::duration<double, std::milli>(read.returned() - closedAt).count());
        EXPECT_EQ("", reader.receive()) << "the reader sees the stream end";
        std::uint8_t byte;
        EXPECT_EQ(-1, client.read(&byte, 1)) << "closed: not connected";
    }
    std::sort(lateness.begin(), lateness.end());
    EXPECT_LT(lateness[2], 120.0) << "median milliseconds from close() to the read's return";
}

TEST(BluetoothSPPStream, UnconnectedClientNeverTouchesDescriptorZero) {
    const int savedInput = dup(STDIN_FILENO);
    ASSERT_GE(savedInput, 0);
    int ends[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, ends));
    ASSERT_EQ(STDIN_FILENO, dup2(ends[0], STDIN_FILENO));
    close(ends[0]);
    ASSERT_EQ(1, ::send(ends[1], "x", 1, 0));

    BluetoothSPP neverConnected;
    BluetoothSPP closed;
    StandInReader reader;
    ASSERT_TRUE(reader.connect(closed));
    closed.close();
    for (BluetoothSPP* client : {&neverConnected, &closed}) {
        std::uint8_t buffer[16];
        std::string data;
        EXPECT_EQ(-1, client->read(buffer, sizeof buffer));
        EXPECT_EQ(-1, client->read(data, 16));
        EXPECT_EQ(-1, client->write(kCommand));
        client->close();
    }
    pollfd peer{ends[1], POLLIN, 0};
    EXPECT_EQ(0, poll(&peer, 1, 0)) << "nothing was written into descriptor 0";
    char pending = 0;
    EXPECT_EQ(1, recv(STDIN_FILENO, &pending, 1, MSG_DONTWAIT)) << "nothing was read from descriptor 0";

    // A stream that the system numbers 0 is still a connection.
    close(STDIN_FILENO);
    int streamEnds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, streamEnds));
    ASSERT_EQ(STDIN_FILENO, streamEnds[0]);
    {
        BluetoothSPP client;
        ASSERT_TRUE(BluetoothSPPTestDoor::attach(client, streamEnds[0]));
        EXPECT_EQ(8, client.write(kCommand));
        char received[8];
        EXPECT_EQ(8, recv(streamEnds[1], received, sizeof received, 0));
    }
    close(streamEnds[1]);
    close(ends[1]);
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);
}

TEST(BluetoothSPPStream, ConnectCloseCyclesLeaveNoDescriptors) {
    const int descriptorsBefore = openDescriptorCount();
    {
        BluetoothSPP client;
        for (int cycle = 0; cycle < 12; ++cycle) {
            StandInReader reader;
            ASSERT_TRUE(reader.connect(client));
            switch (cycle % 3) {
            case 0:  // plain close
                client.close();
                break;
            case 1: {  // close while a read waits: the read releases the stream
                BackgroundRead read(client);
                waitUntilReadWaits(client);
                client.close();
                EXPECT_EQ(0, read.join());
                break;
            }
            default: {  // a new stream replaces this one without close()
                StandInReader next;
                ASSERT_TRUE(next.connect(client));
                EXPECT_EQ("", reader.receive()) << "the replaced stream is closed";
                break;
            }
            }
        }
        // The destructor closes the stream of the last cycle.
    }
    EXPECT_EQ(descriptorsBefore, openDescriptorCount());
}

TEST(BluetoothSPPLibrary, DriverHasNoLinkToTheBluetoothLibrary) {
    const std::string command = std::string("readelf -d '") + T60_DRIVER_LIBRARY + "' 2>&1";
    FILE* output = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, output);
    std::string neededLines;
    char line[1024];
    while (fgets(line, sizeof line, output) != nullptr) {
        if (std::string(line).find("(NEEDED)") != std::string::npos) {
            neededLines += line;
        }
    }
    ASSERT_EQ(0, pclose(output)) << "readelf failed";
    ASSERT_NE(std::string::npos, neededLines.find("libc.so")) << neededLines;
    EXPECT_EQ(std::string::npos, neededLines.find("bluetooth")) << neededLines;
}

TEST(BluetoothSPPLibrary, WithoutTheLibraryConnectAndFindAnswerSetupFailedAndLogWhy) {
    const hidden_bluetooth::Outcome outcome =
        hidden_bluetooth::runWithoutLibrary("libbluetooth.so.3", [] {
            BluetoothSPP client;
            std::vector<BTDeviceInfo> devices{{"AA:BB:CC:DD:EE:FF", "T60 earlier", 4}};
            const int connectResult = client.connect(kReaderAddress, 1);
            const int badAddressResult = client.connect("nonsense", 1);
            const int findResult = BluetoothSPP::find(devices);
            return std::to_string(connectResult) + " " + std::to_string(badAddressResult) + " " +
                   std::to_string(findResult) + " " + std::to_string(devices.size()) + " " +
                   std::to_string(BluetoothSPP::searchSdpPort(kReaderAddress));
        });
    if (outcome.skipped) {
        GTEST_SKIP() << outcome.skipReason;
    }
    ASSERT_TRUE(outcome.exitedNormally && outcome.exitStatus == 0)
        << "signal " << outcome.signal << ", exit status " << outcome.exitStatus << "\n"
        << outcome.output;
    EXPECT_EQ("6 6 6 1 0", outcome.result);
    EXPECT_NE(std::string::npos, outcome.output.find("libbluetooth.so.3")) << outcome.output;
    EXPECT_NE(std::string::npos, outcome.output.find("E[")) << outcome.output;
}

}  // namespace
