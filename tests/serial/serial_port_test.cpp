// Serial::Port over its POSIX implementation on real pseudo-terminals: the
// waiting rules of read and write, errors, line reads, terminal settings.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "serial/serial_port.h"
#include "serial/serial_port_posix.h"
#include "serial/pty.h"

using Serial::Port;
using Serial::Timeout;

namespace {

Timeout timeouts(std::uint32_t interByte, std::uint32_t readConstant, std::uint32_t writeConstant = 250) {
    Timeout t;
    t.interByteTimeout = interByte;
    t.readTimeoutConstant = readConstant;
    t.writeTimeoutConstant = writeConstant;
    return t;
}

// The reader engine's settings: 115200 8N1, no flow control, 250 ms limits,
// no inter-byte limit.
Timeout engineTimeouts() { return timeouts(Timeout::maxTimeout(), 250); }

struct PortOnPty : ::testing::Test {
    PseudoTerminal pty;

    void SetUp() override { ASSERT_TRUE(pty.ok()); }

    std::unique_ptr<Port> openPort(Timeout t = engineTimeouts(),
                                   Serial::FlowControl_t flow = Serial::flowcontrol_none) {
        auto port = std::make_unique<Port>(pty.slavePath(), 115200, t, Serial::eightbits, Serial::parity_none,
                                           Serial::stopbits_one, flow);
        EXPECT_TRUE(port->isOpen()) << port->getLastErrorDescription();
        return port;
    }

    // The terminal settings as anyone holding the device sees them.
    termios settings() {
        termios options{};
        int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(tcgetattr(fd, &options), 0);
        ::close(fd);
        return options;
    }

    // The process's descriptor that is open on the slave device, or -1.
    int descriptorOfSlave() {
        DIR* dir = opendir("/proc/self/fd");
        if (dir == nullptr) return -1;
        int found = -1;
        while (dirent* entry = readdir(dir)) {
            char target[256];
            std::string link = std::string("/proc/self/fd/") + entry->d_name;
            ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == pty.slavePath())
                found = std::atoi(entry->d_name);
        }
        closedir(dir);
        return found;
    }
};

}  // namespace

TEST(SerialTimer, ConvertsMillisecondsAndCountsDown) {
    struct { std::uint32_t ms; long sec; long nsec; } cases[] = {
        {0, 0, 0}, {999, 0, 999000000}, {1500, 1, 500000000}, {0xFFFFFFFFu, 4294967, 295000000}};
    for (const auto& c : cases) {
        timespec t = Serial::timespec_from_ms(c.ms);
        EXPECT_EQ(t.tv_sec, c.sec) << c.ms;
        EXPECT_EQ(t.tv_nsec, c.nsec) << c.ms;
    }
    Serial::MillisecondTimer timer(1000);
    std::int64_t left = timer.remaining();
    EXPECT_GT(left, 500);
    EXPECT_LE(left, 1000);
    Serial::MillisecondTimer expired(0);
    EXPECT_LE(expired.remaining(), 0);
}

TEST_F(PortOnPty, ReadReturnsWhatArrivedWhenTheTotalTimeIsUp) {
    auto port = openPort();
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.send(std::string(20, 'x'));
    });
    std::uint8_t buffer[256];
    Elapsed elapsed;
    std::size_t count = port->read(buffer, sizeof buffer);
    double ms = elapsed.wallMs();
    far.join();
    EXPECT_EQ(count, 20u);
    EXPECT_GE(ms, 200.0);
    EXPECT_LT(ms, 2000.0);
    EXPECT_EQ(port->getLastErrorCode(), 0u);
    EXPECT_EQ(port->getLastErrorDescription(), "");
}

TEST_F(PortOnPty, ReadReturnsAsSoonAsAllBytesAreThere) {
    // A long limit, so that returning early is plain however loaded the machine.
    auto port = openPort(timeouts(Timeout::maxTimeout(), 5000));
    std::string frame;
    for (int i = 0; i < 256; ++i) frame.push_back(static_cast<char>(i));

    std::uint8_t buffer[256];
    pty.send(frame);  // all there before the read
    Elapsed first;
    ASSERT_EQ(port->read(buffer, 256), 256u);
    EXPECT_LT(first.wallMs(), 2500.0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 256), frame);

    std::thread far([&] {  // arriving in four pieces
        for (int piece = 0; piece < 4; ++piece) {
            pty.send(frame.substr(piece * 64, 64));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    Elapsed second;
    std::size_t count = port->read(buffer, 256);
    double ms = second.wallMs();
    far.join();
    EXPECT_EQ(count, 256u);
    EXPECT_LT(ms, 2500.0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 256), frame);
}

TEST_F(PortOnPty, InterByteLimitDoesNotEndTheRead) {
    auto port = openPort(timeouts(50, 1000));
    std::atomic<bool> stop{false};
    std::thread far([&] {
        for (int i = 0; i < 15 && !stop; ++i) {
            pty.send("b");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    std::uint8_t buffer[10];
    Elapsed elapsed;
    std::size_t count = port->read(buffer, sizeof buffer);
    double ms = elapsed.wallMs();
    stop = true;
    far.join();
    EXPECT_GE(ms, 900.0);
    EXPECT_LT(ms, 3000.0);
    EXPECT_GE(count, 3u);
    EXPECT_LE(count, 7u);
}

// An inter-byte limit of 0 and a silent line must wait, not spin, for the
// whole limit; the same holds when the device vanished and keeps reporting
// readiness without data.
TEST_F(PortOnPty, WaitingCostsNoProcessorTime) {
    auto port = openPort(timeouts(0, 600));
    std::uint8_t buffer[16];
    Elapsed silent;
    EXPECT_EQ(port->read(buffer, sizeof buffer), 0u);
    EXPECT_GE(silent.wallMs(), 500.0);
    EXPECT_LT(silent.cpuMs(), silent.wallMs() / 4);

    pty.hangUp();
    Elapsed unplugged;
    EXPECT_EQ(port->read(buffer, sizeof buffer), 0u);
    EXPECT_GE(unplugged.wallMs(), 500.0);
    EXPECT_LT(unplugged.cpuMs(), unplugged.wallMs() / 4);
    EXPECT_EQ(port->getLastErrorCode(), static_cast<std::uint64_t>(EIO));
    EXPECT_EQ(port->getLastErrorDescription(),
              "device reports readiness to read but returned no data (device disconnected?): " +
                  std::to_string(EIO));
    EXPECT_TRUE(port->isOpen());

    port->resetLastError();
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(port->write(data, sizeof data), 0u);
    EXPECT_EQ(port->getLastErrorDescription(),
              "device reports readiness to write but returned no data (device disconnected?)");
    port->close();
    EXPECT_FALSE(port->isOpen());
}

// The wait for the rest of a frame lasts the transmission time of the bytes
// still missing, also when that is a second or more, but never keeps a read
// beyond its own time limit.
TEST_F(PortOnPty, ByteTimeWaitsAreWholeAndStayWithinTheReadLimit) {
    auto port = openPort();
    port->setBaudrate(9600);  // 10 bits of 104166 ns: 1000 bytes take 1.04 s
    Elapsed whole;
    port->waitByteTimes(1000);
    EXPECT_GE(whole.wallMs(), 900.0);
    EXPECT_LT(whole.wallMs(), 5000.0);

    port->setBaudrate(50);  // 200 ms a byte: the 255 missing bytes would take 51 s
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.send("Z");
    });
    std::uint8_t buffer[256];
    Elapsed bounded;
    std::size_t count = port->read(buffer, sizeof buffer);
    double ms = bounded.wallMs();
    far.join();
    EXPECT_EQ(count, 1u);
    EXPECT_GE(ms, 200.0);
    EXPECT_LT(ms, 3000.0);
}

TEST_F(PortOnPty, SizeZeroReturnsAtOnce) {
    auto port = openPort(timeouts(Timeout::maxTimeout(), 5000, 5000));
    pty.send("abc");
    std::uint8_t buffer[4] = {0, 0, 0, 0};
    Elapsed elapsed;
    EXPECT_EQ(port->read(buffer, 0), 0u);
    EXPECT_EQ(port->write(buffer, 0), 0u);
    EXPECT_EQ(port->readLine(0, "\n"), "");
    EXPECT_TRUE(port->readLines(0, "\n").empty());
    EXPECT_LT(elapsed.wallMs(), 2500.0);
    EXPECT_EQ(port->getLastErrorCode(), 0u);
    EXPECT_EQ(port->read(3), "abc");  // nothing was taken
}

TEST_F(PortOnPty, WriteReachesTheFarEndAndStopsAtItsLimit) {
    auto port = openPort(timeouts(Timeout::maxTimeout(), 250, 300));
    EXPECT_EQ(port->write(std::string("\x5A\x00\x7E", 3)), 3u);
    EXPECT_EQ(pty.receive(), std::string("\x5A\x00\x7E", 3));

    // Nobody reads the far end: the write ends with its limit, short.
    std::vector<std::uint8_t> big(4 << 20, 0x55);
    Elapsed elapsed;
    std::size_t written = port->write(big);
    double ms = elapsed.wallMs();
    EXPECT_LT(written, big.size());
    EXPECT_GE(ms, 250.0);
    EXPECT_LT(ms, 3000.0);
}

TEST_F(PortOnPty, ReadsLines) {
    auto port = openPort(timeouts(Timeout::maxTimeout(), 100));
    pty.send("AB\nC");
    EXPECT_EQ(port->readLine(100, "\n"), "AB\n");
    EXPECT_EQ(port->available(), 1u);
    EXPECT_EQ(port->read(1), "C");

    pty.send("xyz");  // no terminator: what came before a byte failed to come
    EXPECT_EQ(port->readLine(100, "\n"), "xyz");

    pty.send("A\nB\nCDEF");
    EXPECT_EQ(port->readLines(6, "\n"), (std::vector<std::string>{"A\n", "B\n", "CD"}));
    EXPECT_EQ(port->readLines(100, "\r\n"), (std::vector<std::string>{"EF"}));

    pty.send("12\r\n34\r\n5");
    EXPECT_EQ(port->readLines(100, "\r\n"), (std::vector<std::string>{"12\r\n", "34\r\n", "5"}));

    pty.send("qrs");
    std::string appended = ">";
    EXPECT_EQ(port->readLine(appended, 2, "\n"), 2u);  // size reached
    EXPECT_EQ(appended, ">qr");
    EXPECT_EQ(port->readLine(10, ""), "s");  // an empty eol ends after one byte

    pty.send("uvw");
    std::vector<std::uint8_t> bytes{'0'};
    EXPECT_EQ(port->read(bytes, 8), 3u);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{'0', 'u', 'v', 'w'}));
}

TEST_F(PortOnPty, ErrorsAreRecordedWithTheirCodesAndTexts) {
    Port unnamed("", 115200, engineTimeouts(), Serial::eightbits, Serial::parity_none, Serial::stopbits_one,
                 Serial::flowcontrol_none);
    EXPECT_EQ(unnamed.getLastErrorCode(), 0u);  // nothing opened, nothing recorded
    unnamed.open();
    EXPECT_FALSE(unnamed.isOpen());
    EXPECT_EQ(unnamed.getLastErrorCode(), 335u);
    EXPECT_EQ(unnamed.getLastErrorDescription(), "Port name empty!");

    Port closed("", 115200, engineTimeouts(), Serial::eightbits, Serial::parity_none, Serial::stopbits_one,
                Serial::flowcontrol_none);
    std::uint8_t byte = 0;
    EXPECT_EQ(closed.read(&byte, 1), 0u);
    EXPECT_EQ(closed.getLastErrorCode(), 335u);
    EXPECT_EQ(closed.getLastErrorDescription(), "Port is not open!");
    closed.resetLastError();
    EXPECT_EQ(closed.write(&byte, 1), 0u);
    EXPECT_EQ(closed.getLastErrorCode(), 335u);
    EXPECT_EQ(closed.getLastErrorDescription(), "Port is not open!");
    closed.resetLastError();
    EXPECT_EQ(errno, 0);
    // The rest does nothing on a closed port and records nothing.
    closed.close();
    closed.flush();
    closed.setDTR(true);
    closed.setBaudrate(9600);
    EXPECT_EQ(closed.available(), 0u);
    EXPECT_FALSE(closed.getCTS() || closed.getDSR() || closed.getRI() || closed.getCD());
    EXPECT_EQ(closed.getLastErrorCode(), 0u);
    EXPECT_EQ(closed.getBaudrate(), 9600u);
    // The modem-change wait tries anyway and reports its failure as one.
    EXPECT_FALSE(closed.waitForChange());
    EXPECT_EQ(closed.getLastErrorCode(), static_cast<std::uint64_t>(EBADF));
    EXPECT_EQ(closed.getLastErrorDescription(), "waitForDSR failed on a call to ioctl(TIOCMIWAIT): " +
                                                   std::to_string(EBADF) + " " + std::strerror(EBADF));

    Port missing("/dev/ttyACM9-not-there", 115200, engineTimeouts(), Serial::eightbits, Serial::parity_none,
                 Serial::stopbits_one, Serial::flowcontrol_none);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.getLastErrorCode(), 2u);
    EXPECT_EQ(missing.getLastErrorDescription(), "Unknown error opening the serial port : 2");

    // setPort on a closed port only stores the name; open then succeeds but
    // does not clear the earlier record.
    missing.setPort(pty.slavePath());
    EXPECT_FALSE(missing.isOpen());
    missing.open();
    EXPECT_TRUE(missing.isOpen());
    EXPECT_EQ(missing.getLastErrorCode(), 2u);
    missing.open();  // a second open changes nothing
    EXPECT_TRUE(missing.isOpen());
    pty.send("k");
    EXPECT_EQ(missing.read(1), "k");
}

TEST_F(PortOnPty, OpenSetsRawTerminalAndSettersReapplyIt) {
    auto port = openPort();
    termios t = settings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // A program started by the host must not inherit the device.
    int fd = descriptorOfSlave();
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

    port->setBaudrate(460800);
    EXPECT_EQ(cfgetospeed(&(t = settings())), static_cast<speed_t>(B460800));
    // A custom rate goes through the line information, which a
    // pseudo-terminal does not offer: the speed stays, nothing is recorded.
    port->setBaudrate(250000);
    EXPECT_EQ(cfgetospeed(&(t = settings())), static_cast<speed_t>(B460800));
    EXPECT_EQ(port->getBaudrate(), 250000u);
    EXPECT_EQ(port->getLastErrorCode(), 0u);
    port->setBaudrate(115200);

    // A pseudo-terminal keeps 8 data bits and no parity whatever it is
    // told; the stop bits it keeps.
    const std::pair<int, bool> stopCases[] = {{2, true}, {1, false}, {3, true}, {7, false}};
    for (const auto& c : stopCases) {
        port->setStopBits(static_cast<Serial::StopBits_t>(c.first));
        EXPECT_EQ((settings().c_cflag & CSTOPB) != 0, c.second) << c.first;
    }

    // Parity is seen by its odd and mark/space flags (the enable flag a
    // pseudo-terminal drops). Odd and even after mark or space must not keep
    // the mark/space flag; an unknown value means none.
    const struct { int parity; tcflag_t flags; } parityCases[] = {
        {3, PARODD | CMSPAR}, {2, 0}, {4, CMSPAR}, {1, PARODD}, {7, 0}};
    for (const auto& c : parityCases) {
        port->setParity(static_cast<Serial::Parity_t>(c.parity));
        t = settings();
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.flags) << c.parity;
        EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP), 0u) << c.parity;
    }

    port->setFlowControl(Serial::flowcontrol_hardware);
    EXPECT_EQ(settings().c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
    port->setFlowControl(static_cast<Serial::FlowControl_t>(5));  // unknown: flow stays
    EXPECT_EQ(settings().c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
    port->setFlowControl(Serial::flowcontrol_software);
    t = settings();
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    port->setFlowControl(Serial::flowcontrol_none);
    EXPECT_EQ(settings().c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(port->getLastErrorCode(), 0u);
}

// The reader engine's DTR/RTS mode on a device that refuses the modem-line
// requests: each refusal is recorded, and the exchange still works.
TEST_F(PortOnPty, RefusedModemLinesDoNotBreakTheExchange) {
    Port port("", 115200, engineTimeouts(), Serial::eightbits, Serial::parity_none, Serial::stopbits_one,
              Serial::flowcontrol_none);
    port.setPort(pty.slavePath());
    port.setFlowControl(Serial::flowcontrol_hardware);
    port.setDTR(true);  // closed: nothing happens yet
    port.setRTS(true);
    EXPECT_EQ(port.getLastErrorCode(), 0u);
    port.open();
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(settings().c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));

    port.setDTR(true);
    port.setRTS(false);
    if (port.getLastErrorCode() != 0) {
        EXPECT_EQ(port.getLastErrorDescription().rfind("setRTS failed on a call to ioctl(TIOCMBIC): ", 0), 0u)
            << port.getLastErrorDescription();
    }
    port.flush();
    EXPECT_EQ(port.write(std::string("ping")), 4u);
    EXPECT_EQ(pty.receive(), "ping");
    pty.send("pong");
    EXPECT_EQ(port.read(4), "pong");
    port.close();
    port.flush();
}

// A host process may hold more descriptors than a select set can name; the
// port must still wait on its device correctly.
TEST_F(PortOnPty, WorksWithADescriptorBeyondTheSelectSet) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < FD_SETSIZE + 64)
        GTEST_SKIP() << "descriptor limit too low";
    limit.rlim_cur = FD_SETSIZE + 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> fillers;
    for (;;) {
        int fd = ::open("/dev/null", O_RDONLY);
        ASSERT_GE(fd, 0);
        fillers.push_back(fd);
        if (fd >= FD_SETSIZE + 8) break;
    }
    for (int i = 0; i < 4; ++i) {  // free a few numbers above the set's range only
        ::close(fillers.back());
        fillers.pop_back();
    }

    auto port = openPort(timeouts(Timeout::maxTimeout(), 400));
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("late");
    });
    std::uint8_t buffer[8];
    Elapsed elapsed;
    std::size_t count = port->read(buffer, sizeof buffer);
    far.join();
    EXPECT_EQ(count, 4u);
    EXPECT_GE(elapsed.wallMs(), 300.0);
    EXPECT_EQ(port->write(std::string("out")), 3u);
    EXPECT_EQ(pty.receive(), "out");
    for (int fd : fillers) ::close(fd);
}
