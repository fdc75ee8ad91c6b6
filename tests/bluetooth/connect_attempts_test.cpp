// connect() against a stand-in RFCOMM stack: this test program puts its own
// socket() and connect() in front of the C library's, so that an RFCOMM
// socket is one end of a UNIX socket pair and each connection attempt is
// refused or accepted as the case says.
#include "bluetooth/bluetooth_spp.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// What the stand-in stack does and what it saw; the tests run on one thread.
struct StandInStack {
    int acceptOnAttempt = 0;        // 0: refuse every attempt
    int failSocketOnAttempt = 0;    // 0: every socket can be made
    int sockets = 0;                // RFCOMM sockets asked for
    int connects = 0;               // connection attempts
    sockaddr_rc lastTarget{};
    socklen_t lastTargetSize = 0;
    // {client socket, far end of its pair} per socket made, oldest first; a
    // client number comes back once the client has closed it.
    std::vector<std::pair<int, int>> peers;

    bool isStandIn(int descriptor) const {
        return !peers.empty() && peers.back().first == descriptor;
    }
    void closePeers() {
        for (const auto& entry : peers) {
            close(entry.second);
        }
        peers.clear();
    }
};
StandInStack stack;

int openDescriptorCount() {
    DIR* directory = opendir("/proc/self/fd");
    int count = 0;
    while (directory != nullptr && readdir(directory) != nullptr) {
        ++count;
    }
    if (directory != nullptr) {
        closedir(directory);
    }
    return count;
}

}  // namespace

extern "C" int socket(int domain, int type, int protocol) {
    using SocketFunction = int (*)(int, int, int);
    static const auto realSocket = reinterpret_cast<SocketFunction>(dlsym(RTLD_NEXT, "socket"));
    if (domain != AF_BLUETOOTH || protocol != BTPROTO_RFCOMM) {
        return realSocket(domain, type, protocol);
    }
    ++stack.sockets;
    if (stack.sockets == stack.failSocketOnAttempt) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    int ends[2];
    if (socketpair(AF_UNIX, type, 0, ends) != 0) {
        return -1;
    }
    stack.peers.emplace_back(ends[0], ends[1]);
    return ends[0];
}

extern "C" int connect(int descriptor, const sockaddr* address, socklen_t size) {
    using ConnectFunction = int (*)(int, const sockaddr*, socklen_t);
    static const auto realConnect = reinterpret_cast<ConnectFunction>(dlsym(RTLD_NEXT, "connect"));
    if (!stack.isStandIn(descriptor)) {
        return realConnect(descriptor, address, size);
    }
    ++stack.connects;
    std::memcpy(&stack.lastTarget, address, std::min<std::size_t>(size, sizeof stack.lastTarget));
    stack.lastTargetSize = size;
    if (stack.connects == stack.acceptOnAttempt) {
        return 0;
    }
    errno = ECONNREFUSED;
    return -1;
}

namespace {

const std::string kCommand("\x5A\x04\x01\x09\x05\xFF\xED\x7E", 8);

class ConnectAttempts : public ::testing::Test {
protected:
    void SetUp() override { stack = StandInStack(); m_descriptorsBefore = openDescriptorCount(); }
    void TearDown() override {
        stack.closePeers();
        EXPECT_EQ(m_descriptorsBefore, openDescriptorCount()) << "no descriptor is left open";
    }

private:
    int m_descriptorsBefore = 0;
};

TEST_F(ConnectAttempts, RefusingDeviceGivesUpAfterTenAttempts) {
    {
        BluetoothSPP client;
        EXPECT_EQ(BluetoothSPP::ConnectFailed, client.connect("00:11:22:33:44:55", 3));
        EXPECT_EQ(10, stack.sockets);
        EXPECT_EQ(10, stack.connects);
        EXPECT_EQ(-1, client.write(kCommand)) << "not connected after a refusal";
    }
    for (const auto& entry : stack.peers) {
        char byte;
        EXPECT_EQ(0, recv(entry.second, &byte, 1, MSG_DONTWAIT)) << "every refused socket was closed";
    }
}

TEST_F(ConnectAttempts, AcceptingDeviceGetsTheAddressAndChannelAndCarriesTheStream) {
    stack.acceptOnAttempt = 3;
    BluetoothSPP client;
    ASSERT_EQ(BluetoothSPP::Ok, client.connect("01:23:45:67:89:AB", 12));
    EXPECT_EQ(3, stack.sockets);

    EXPECT_EQ(10u, stack.lastTargetSize);
    EXPECT_EQ(AF_BLUETOOTH, stack.lastTarget.rc_family);
    EXPECT_EQ(12, stack.lastTarget.rc_channel);
    // The stack holds addresses with the last byte of the text first.
    const std::uint8_t expected[6] = {0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    EXPECT_EQ(0, std::memcmp(expected, stack.lastTarget.rc_bdaddr.b, 6));

    ASSERT_EQ(8, client.write(kCommand));
    int acceptedPeer = -1;
    for (const auto& entry : stack.peers) {
        char buffer[16];
        const ssize_t count = recv(entry.second, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count > 0) {
            EXPECT_EQ(kCommand, std::string(buffer, static_cast<std::size_t>(count)));
            acceptedPeer = entry.second;
        } else {
            EXPECT_EQ(0, count) << "a refused attempt's socket is closed";
        }
    }
    ASSERT_NE(-1, acceptedPeer) << "the command went out on the accepted socket";
    ASSERT_EQ(2, send(acceptedPeer, "ok", 2, 0));
    std::string answer;
    EXPECT_EQ(2, client.read(answer, 256));
    EXPECT_EQ("ok", answer);
}

TEST_F(ConnectAttempts, NoSocketOrBadArgumentsStopBeforeOrAtTheSocket) {
    struct Case {
        const char* address;
        int channel;
        int failSocketOnAttempt;
        int expected;
        int sockets;
    };
    const Case cases[] = {
        {"00:11:22:33:44:55", 0, 0, BluetoothSPP::SetupFailed, 0},
        {"00:11:22:33:44:55", 256, 0, BluetoothSPP::SetupFailed, 0},
        {"00:11:22:33:44", 1, 0, BluetoothSPP::BadAddress, 0},
        {"00:11:22:33:44:55", 1, 1, BluetoothSPP::SetupFailed, 1},
        {"00:11:22:33:44:55", 1, 4, BluetoothSPP::SetupFailed, 4},  // after three refusals
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " channel " + std::to_string(c.channel));
        stack.closePeers();
        stack = StandInStack();
        stack.failSocketOnAttempt = c.failSocketOnAttempt;
        BluetoothSPP client;
        EXPECT_EQ(c.expected, client.connect(c.address, c.channel));
        EXPECT_EQ(c.sockets, stack.sockets);
        EXPECT_EQ(-1, client.write(kCommand));
    }
}

}  // namespace
