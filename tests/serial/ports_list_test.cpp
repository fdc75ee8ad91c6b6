// Serial::GetPortsList over a fixture copy of /dev and /sys: the order of the
// name patterns, USB descriptions from sysfs, id files and "n/a".
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "serial/ports_list_linux.h"

namespace {

const std::string kRoot = T60_SYSFS_FIXTURE;

std::vector<std::vector<std::string>> listed(const std::string& root) {
    std::string base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::vector<std::vector<std::string>> rows;
    for (const auto& info : Serial::GetPortsListUnder(root, root)) {
        std::string port = info.port;
        if (port.compare(0, base.size(), base) == 0) port = port.substr(base.size());
        rows.push_back({port, info.description, info.hardware_id});
    }
    return rows;
}

}  // namespace

TEST(PortsList, ListsPatternsInOrderAndDescribesEachDevice) {
    const std::vector<std::vector<std::string>> expected = {
        // CDC-ACM reader without a serial number: empty parts leave blanks.
        {"/dev/ttyACM0", "Tarvel 60x Reader ", "USB VID:PID=1a86:7523 "},
        {"/dev/ttyS0", "ttyS0", "PNP0501"},  // id file
        {"/dev/ttyS1", "ttyS1", "n/a"},      // sysfs entry without an id file
        {"/dev/ttyS10", "ttyS10", "n/a"},    // text order: 10 before 2
        {"/dev/ttyS2", "ttyS2", "n/a"},      // no sysfs entry at all
        {"/dev/ttyUSB0", "FTDI FT232R USB UART A1B2C3", "USB VID:PID=0403:6001 SNR=A1B2C3"},
        {"/dev/ttyUSB1", "ttyUSB1", "USB VID:PID=: "},  // USB device without attribute files
        {"/dev/ttyUSB2", "ttyUSB2", "n/a"},             // no sysfs link: nothing to describe
        {"/dev/tty.debug", "tty.debug", "n/a"},
        {"/dev/cu.modem", "cu.modem", "n/a"},
    };
    EXPECT_EQ(listed(kRoot), expected);
    EXPECT_EQ(listed(kRoot + "/"), expected);  // a trailing slash on the roots changes nothing
}

TEST(PortsList, EmptyWhenNothingMatches) {
    char dir[] = "/tmp/t60-ports-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    EXPECT_TRUE(Serial::GetPortsListUnder(dir, dir).empty());
    EXPECT_TRUE(Serial::GetPortsListUnder(std::string(dir) + "/missing", dir).empty());
    rmdir(dir);
}

TEST(PortsList, RealMachineEntriesAreComplete) {
    for (const auto& info : Serial::GetPortsList()) {
        EXPECT_EQ(info.port.rfind("/dev/", 0), 0u) << info.port;
        EXPECT_FALSE(info.description.empty()) << info.port;
        EXPECT_FALSE(info.hardware_id.empty()) << info.port;
    }
}
