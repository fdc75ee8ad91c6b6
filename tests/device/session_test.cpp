// The RFID session against the emulated reader: trigger presses become tag
// packages and events, package numbers are unique across readers, refused
// events are offered again, the keep-alive, and tag writes that wait for the
// trigger.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "device/device.h"
#include "emulated_reader.h"
#include "tests/device/driver_owner.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char* const kEpc = "E2000017220B0123456789AB";
const char* const kTid = "E20034120123456789ABCDEF";

std::string tagXml(const std::string& tid, const std::string& epc, const std::string& user) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Table>\n\t<Tag TID=\"" + tid + "\" EPC=\"" + epc +
           "\" USER=\"" + user + "\"/>\n</Table>\n";
}

// One emulated reader with a tag in the field and an open Device on it.
struct Station {
    explicit Station(std::int64_t id, Emulator::Tag tag = {"3400", kEpc, kTid, "0A1B2C3D"}) {
        started = reader.start() && reader.setTag(tag);
        device.setPort(reader.devicePath(), 5);
        device.setConnectionType(0);
        device.setID(id);
        opened = started && device.openPort();
    }
    ~Station() {
        device.closeSession();
        device.closePort();
    }

    Emulator::EmulatedReader reader;
    Device device;
    bool started = false;
    bool opened = false;
};

class Session : public ::testing::Test {
protected:
    DriverOwner owner;
};

TEST_F(Session, OpensOnTheReaderAndClosesOnlyOnce) {
    Station station(1);
    ASSERT_TRUE(station.opened);
    EXPECT_FALSE(station.device.closeSession());
    station.reader.clearFrames();
    ASSERT_TRUE(station.device.openSession());
    EXPECT_TRUE(station.device.isSessionOpen());
    // epc2Usb, events on, host mode: in this order.
    std::vector<std::pair<int, int>> commands;
    for (const Emulator::ReceivedFrame& frame : station.reader.frames())
        commands.emplace_back(frame.group(), frame.code());
    EXPECT_EQ(commands, (std::vector<std::pair<int, int>>{{0x0C, 0x0A}, {0x09, 0x20}, {0x0B, 0x30}}));
    Emulator::ReaderState state = station.reader.state();
    EXPECT_TRUE(state.epc2Usb && state.eventsEnabled && state.hostMode);

    const std::size_t before = station.reader.frameCount();
    EXPECT_FALSE(station.device.openSession());
    EXPECT_EQ(station.reader.frameCount(), before);

    EXPECT_TRUE(station.device.closeSession());
    EXPECT_FALSE(station.device.isSessionOpen());
    EXPECT_FALSE(station.reader.state().eventsEnabled);
    EXPECT_FALSE(station.device.closeSession());
}

TEST_F(Session, TheReceiverSkipsTheUsbReportCommand) {
    Emulator::Options options;
    options.receiver = true;
    options.paired = true;  // a receiver already connected to its reader
    Emulator::EmulatedReader receiver(options);
    ASSERT_TRUE(receiver.start());
    Device device;
    device.setConnectionType(2);
    device.setPort(receiver.devicePath(), 5);
    ASSERT_TRUE(device.openPort());
    ASSERT_TRUE(device.openSession());
    std::vector<std::pair<int, int>> commands;
    for (const Emulator::ReceivedFrame& frame : receiver.frames())
        commands.emplace_back(frame.group(), frame.code());
    EXPECT_EQ(commands, (std::vector<std::pair<int, int>>{{0x09, 0x20}, {0x0B, 0x30}}));
    EXPECT_TRUE(device.closeSession());
}

TEST_F(Session, APressIsAnNEventOfAtLeastSeventeenBytes) {
    Station station(1);
    ASSERT_TRUE(station.opened);
    ASSERT_TRUE(station.device.openSession());
    // Alone in its read: the test is on the bytes one read brings.
    ASSERT_TRUE(station.reader.sendEvent('N', 16));
    EXPECT_FALSE(owner.waitForEvents(1, seconds(2)));
    EXPECT_FALSE(station.reader.waitForCommand(0x0B, 0x36, milliseconds(10)));
    ASSERT_TRUE(station.reader.sendEvent('N', 17));
    EXPECT_TRUE(owner.waitForEvents(1, seconds(10)));
}

TEST_F(Session, ASilentReaderCannotOpenASession) {
    Station station(1);
    ASSERT_TRUE(station.opened);
    station.reader.setMode(Emulator::FaultMode::Silent);
    EXPECT_FALSE(station.device.openSession());
    EXPECT_FALSE(station.device.isSessionOpen());
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 404);
    EXPECT_EQ(error.text, L"Не удалось связаться с устройством");
}

TEST_F(Session, APressBecomesAPackageAndAnEvent) {
    Station station(7);
    ASSERT_TRUE(station.opened);
    ASSERT_TRUE(station.device.openSession());
    ASSERT_TRUE(station.reader.press());
    ASSERT_TRUE(owner.waitForEvents(1, seconds(10)));
    const DriverOwner::Event event = owner.events().front();
    EXPECT_EQ(event.source, L"7");
    EXPECT_EQ(event.message, L"RFID");
    EXPECT_EQ(event.data, L"1");
    EXPECT_EQ(station.device.getPacket("1"), tagXml(kTid, kEpc, "0A1B2C3D"));
    EXPECT_EQ(station.device.getPacket("1"), "");
    EXPECT_EQ(station.device.getPacket("99"), "");

    // Without user memory the package still comes, with an empty USER.
    ASSERT_TRUE(station.reader.setTag({"3400", kEpc, kTid, ""}));
    ASSERT_TRUE(station.reader.press());
    ASSERT_TRUE(owner.waitForEvents(2, seconds(10)));
    EXPECT_EQ(station.device.getPacket("2"), tagXml(kTid, kEpc, ""));

    // No tag in the field: no package.
    station.reader.clearTag();
    ASSERT_TRUE(station.reader.press());
    EXPECT_FALSE(owner.waitForEvents(3, seconds(3)));
}

TEST_F(Session, PackageNumbersAreUniqueAcrossReaders) {
    Station first(1);
    Station second(2, {"3400", "E2000017220B0123456789AC", "E20034120123456789ABCDE0", ""});
    ASSERT_TRUE(first.opened && second.opened);
    ASSERT_TRUE(first.device.openSession());
    ASSERT_TRUE(second.device.openSession());
    ASSERT_TRUE(first.reader.press());
    ASSERT_TRUE(owner.waitForEvents(1, seconds(10)));
    ASSERT_TRUE(second.reader.press());
    ASSERT_TRUE(owner.waitForEvents(2, seconds(10)));
    // Both at once: the two workers draw numbers concurrently.
    ASSERT_TRUE(first.reader.press());
    ASSERT_TRUE(second.reader.press());
    ASSERT_TRUE(owner.waitForEvents(4, seconds(10)));
    const std::vector<DriverOwner::Event> events = owner.events();
    EXPECT_EQ(events[0].source, L"1");
    EXPECT_EQ(events[0].data, L"1");
    EXPECT_EQ(events[1].source, L"2");
    EXPECT_EQ(events[1].data, L"2");
    EXPECT_NE(events[2].data, events[3].data);
    EXPECT_NE(events[2].source, events[3].source);
    for (const DriverOwner::Event& event : events) {
        Device& device = event.source == L"1" ? first.device : second.device;
        EXPECT_FALSE(device.getPacket(std::string(event.data.begin(), event.data.end())).empty());
    }
}

TEST_F(Session, ARefusedEventIsOfferedAgainUntilAccepted) {
    Station station(3);
    ASSERT_TRUE(station.opened);
    ASSERT_TRUE(station.device.openSession());
    owner.refuseNext(2);
    ASSERT_TRUE(station.reader.press());
    ASSERT_TRUE(owner.waitForEvents(1, seconds(10)));
    ASSERT_TRUE(station.reader.press());
    ASSERT_TRUE(owner.waitForEvents(2, seconds(10)));
    EXPECT_EQ(owner.offers(), (std::vector<std::wstring>{L"1", L"1", L"1", L"2"}));
    // A package waits to be fetched whether or not its event was accepted.
    EXPECT_FALSE(station.device.getPacket("1").empty());
}

// Slow: the keep-alive goes out after 20 s of session.
TEST_F(Session, KeepsTheLinkAliveWithoutTouchingTheErrorState) {
    Station station(4);
    ASSERT_TRUE(station.opened);
    owner.setError(5, L"earlier");
    ASSERT_TRUE(station.device.openSession());
    const std::size_t from = station.reader.frameCount();
    EXPECT_FALSE(station.reader.waitForCommand(0x09, 0x05, seconds(18), from));
    EXPECT_TRUE(station.reader.waitForCommand(0x09, 0x05, seconds(10), from));
    EXPECT_EQ(station.reader.state().keepAlives, 1);
    EXPECT_EQ(owner.takeError().code, 5);
}

// Presses the trigger after the host's write has had ample time to start waiting.
void pressSoon(Emulator::EmulatedReader& reader) {
    std::this_thread::sleep_for(milliseconds(500));
    reader.press();
}

TEST_F(Session, AWriteAfterAPressChangesTheTagWithTheRightTid) {
    Station station(5);
    ASSERT_TRUE(station.opened);
    ASSERT_TRUE(station.device.openSession());
    std::thread operatorHand(pressSoon, std::ref(station.reader));
    EXPECT_TRUE(station.device.waitForWriteUser(kEpc, kTid, "CAFE", 30));
    operatorHand.join();
    EXPECT_EQ(station.reader.tag().user, "CAFE2C3D");
    EXPECT_EQ(station.reader.state().tagWrites, 1);

    operatorHand = std::thread(pressSoon, std::ref(station.reader));
    EXPECT_TRUE(station.device.waitForWriteEPC(kEpc, kTid, "300833B2DDD9014000000000", 30));
    operatorHand.join();
    EXPECT_EQ(station.reader.tag().epc, "300833B2DDD9014000000000");
    // The presses were handed to the writes: no package was made.
    EXPECT_TRUE(owner.events().empty());
    EXPECT_EQ(owner.takeError().code, 0);
}

TEST_F(Session, AWriteToATagWithAnotherTidWritesNothing) {
    Station station(6);
    ASSERT_TRUE(station.opened);
    ASSERT_TRUE(station.device.openSession());
    std::thread operatorHand(pressSoon, std::ref(station.reader));
    EXPECT_FALSE(station.device.waitForWriteUser(kEpc, "E20034120123456789ABCD00", "CAFE", 30));
    operatorHand.join();
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 100);
    EXPECT_EQ(error.text, L"Неверная метка");
    EXPECT_EQ(station.reader.state().tagWrites, 0);
    EXPECT_EQ(station.reader.tag().user, "0A1B2C3D");
}

TEST_F(Session, AfterAWriteTimesOutTheNextPressGivesAPackage) {
    Station station(8);
    ASSERT_TRUE(station.opened);
    ASSERT_TRUE(station.device.openSession());
    EXPECT_FALSE(station.device.waitForWriteEPC(kEpc, kTid, "0102", 1));
    EXPECT_EQ(owner.takeError().code, 105);
    ASSERT_TRUE(station.reader.press());
    ASSERT_TRUE(owner.waitForEvents(1, seconds(10)));
    EXPECT_EQ(station.device.getPacket("1"), tagXml(kTid, kEpc, "0A1B2C3D"));
    EXPECT_EQ(station.reader.state().tagWrites, 0);
}

// Should a Device go with its session still running, the worker must not
// outlive it.
TEST_F(Session, DestroyingADeviceStopsItsSessionFirst) {
    Emulator::EmulatedReader reader;
    ASSERT_TRUE(reader.start());
    {
        Device device;
        device.setPort(reader.devicePath(), 5);
        ASSERT_TRUE(device.openPort());
        ASSERT_TRUE(device.openSession());
        std::this_thread::sleep_for(milliseconds(300));
    }
    EXPECT_FALSE(reader.state().eventsEnabled);
}

TEST_F(Session, ClosingWaitsForTheWorkerEvenInTheMiddleOfAPress) {
    Station station(9);
    ASSERT_TRUE(station.opened);
    ASSERT_TRUE(station.device.openSession());
    ASSERT_TRUE(station.reader.press());
    std::this_thread::sleep_for(milliseconds(400));
    EXPECT_TRUE(station.device.closeSession());
    // The worker has finished its pass: whatever it made is filed, and
    // nothing reaches the reader any more.
    const std::size_t frames = station.reader.frameCount();
    std::this_thread::sleep_for(milliseconds(700));
    EXPECT_EQ(station.reader.frameCount(), frames);
}

}  // namespace
