// The reader engine against the emulated reader on a pseudo-terminal: the
// connection, the configuration commands and the 3610 pairing, as the
// reader sees them.
#include <gtest/gtest.h>

#include <chrono>

#include "device/device.h"
#include "emulated_reader.h"
#include "tests/device/driver_owner.h"

namespace {

using std::chrono::milliseconds;

TEST(Reader, OpensAppliesSettingsAndAnswersTheProbe) {
    DriverOwner owner;
    Emulator::EmulatedReader reader;
    ASSERT_TRUE(reader.start());
    Device device;
    device.setPort(reader.devicePath(), 5);
    device.setConnectionType(0);
    ASSERT_TRUE(device.openPort());

    EXPECT_TRUE(device.setBuzzerConfig(2, false, true));
    EXPECT_TRUE(device.setGoodReadConfig(1, 2));
    EXPECT_TRUE(device.setVibratorConfig(true, 5));
    std::string text;
    EXPECT_TRUE(device.getInfo(text));
    Emulator::ReaderState state = reader.state();
    EXPECT_EQ(state.buzzerVolume, 2);
    EXPECT_FALSE(state.buzzerAlarm);
    EXPECT_TRUE(state.goodReadBeep);
    EXPECT_EQ(state.goodReadFrequency, 1);
    EXPECT_EQ(state.goodReadDuration, 2);
    EXPECT_TRUE(state.vibrationEnabled);
    EXPECT_EQ(state.vibrationDuration, 5);
    EXPECT_EQ(state.rejectedFrames, 0u);

    EXPECT_TRUE(device.factoryReset());
    EXPECT_TRUE(device.testBeep());
    state = reader.state();
    EXPECT_EQ(state.factoryResets, 1);
    EXPECT_EQ(state.testBeeps, 1);
    EXPECT_FALSE(state.vibrationEnabled);  // factory value again
    EXPECT_EQ(owner.takeError().code, 0);

    EXPECT_TRUE(device.closePort());
    EXPECT_FALSE(device.closePort());
}

TEST(Reader, ARefusingReaderFailsTheSettingsAndASilentOneTheProbe) {
    DriverOwner owner;
    Emulator::EmulatedReader reader;
    ASSERT_TRUE(reader.start());
    Device device;
    device.setPort(reader.devicePath(), 5);
    ASSERT_TRUE(device.openPort());
    reader.setMode(Emulator::FaultMode::Refuse);
    EXPECT_FALSE(device.setVibratorConfig(true, 5));
    EXPECT_EQ(owner.takeError().code, 210);
    reader.setMode(Emulator::FaultMode::Silent);
    std::string text;
    EXPECT_FALSE(device.getInfo(text));
    EXPECT_EQ(owner.takeError().code, 404);
}

// The line refuses DTR and RTS requests (a pseudo-terminal does), which
// leaves a failure in the port's record after every exchange; an earlier
// failure must not make a later open look failed.
TEST(Reader, ReopensAfterExchangesLeftFailuresInThePortRecord) {
    DriverOwner owner;
    Emulator::EmulatedReader reader;
    ASSERT_TRUE(reader.start());
    Device device;
    device.setPort(reader.devicePath(), 5);
    ASSERT_TRUE(device.openPort());
    std::string text;
    ASSERT_TRUE(device.getInfo(text));
    ASSERT_TRUE(device.closePort());
    EXPECT_TRUE(device.openPort());
    EXPECT_EQ(owner.takeError().code, 0);
    EXPECT_TRUE(device.getInfo(text));
}

TEST(Reader, ReadsTheTagThroughSplitAnswersEventsAndJunk) {
    struct Case {
        const char* name;
        Emulator::FaultMode mode;
        bool answers;
    };
    const Case cases[] = {
        {"answers in two pieces", Emulator::FaultMode::Split, true},
        {"an event frame before every answer", Emulator::FaultMode::EventBeforeAnswer, true},
        {"junk instead of answers", Emulator::FaultMode::Garbage, false},
    };
    DriverOwner owner;
    Emulator::EmulatedReader reader;
    ASSERT_TRUE(reader.start());
    ASSERT_TRUE(reader.setTag({"3400", "E2000017220B0123456789AB", "E20034120123456789ABCDEF", "0A1B2C3D"}));
    Device device;
    device.setPort(reader.devicePath(), 5);
    ASSERT_TRUE(device.openPort());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reader.setMode(c.mode);
        std::string text, pc, epc, tid, user;
        EXPECT_EQ(device.getInfo(text), c.answers);
        EXPECT_EQ(device.readEPCData(pc, epc, tid), c.answers);
        EXPECT_EQ(device.readUserMem(pc, epc, user), c.answers);
        if (c.answers) {
            EXPECT_EQ(epc, "E2000017220B0123456789AB");
            EXPECT_EQ(tid, "E20034120123456789ABCDEF");
            EXPECT_EQ(user, "0A1B2C3D");
        }
        owner.takeError();
    }
}

TEST(Reader, AMissingPortReportsThePortsOwnError) {
    DriverOwner owner;
    Device device;
    device.setPort("/dev/ttyACM-none", 5);
    EXPECT_FALSE(device.openPort());
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.text, L"Unknown error opening the serial port : 2");
}

TEST(Reader, PairsThe3610ReceiverWithItsReader) {
    DriverOwner owner;
    Emulator::Options options;
    options.receiver = true;
    options.pollsBeforeConnect = 3;
    options.serial = "123456789";
    Emulator::EmulatedReader receiver(options);
    ASSERT_TRUE(receiver.start());
    Device device;
    device.setConnectionType(2);
    device.setPort(receiver.devicePath(), 5);
    ASSERT_TRUE(device.openPort());
    ASSERT_TRUE(device.set3610Target("123456789"));
    EXPECT_TRUE(device.enable3610());
    const Emulator::ReaderState state = receiver.state();
    EXPECT_EQ(state.target3610, "123456789");
    EXPECT_TRUE(state.receiverConnected);
    EXPECT_EQ(state.connectionPolls, 4);
    EXPECT_EQ(state.modeSwitches, 1);
    EXPECT_EQ(owner.takeError().code, 0);
}

// Slow: the receiver never reaches the reader, so the pairing waits its 20 s.
TEST(Reader, GivesUpPairingAfterTwentySeconds) {
    DriverOwner owner;
    Emulator::Options options;
    options.receiver = true;
    options.serial = "999999999";
    Emulator::EmulatedReader receiver(options);
    ASSERT_TRUE(receiver.start());
    Device device;
    device.setConnectionType(2);
    device.setPort(receiver.devicePath(), 5);
    ASSERT_TRUE(device.openPort());
    ASSERT_TRUE(device.set3610Target("123456789"));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(device.enable3610());
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GT(waited, 20.0);
    EXPECT_LT(waited, 40.0);
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 215);
    EXPECT_EQ(error.text, L"Истекло время ожидания подключения 3610");
    EXPECT_EQ(receiver.state().modeSwitches, 0);
}

}  // namespace
