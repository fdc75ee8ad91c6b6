// The device registry through the loaded library against emulated readers:
// device IDs, the settings pushed when a reader is opened, failed opens,
// DeviceTest, the reset action and the 3610 receiver's serial number.
#include <chrono>
#include <string>

#include "driver_host.h"

namespace {

using namespace DriverTest;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(DriverRegistry, IdsAreTakenOnlyBySuccessfulOpensAndNeverReused) {
    Reader first;
    Reader second;
    TestHost::Host host;

    EXPECT_EQ(1, openReader(host, first.path()));
    // A reader that cannot be reached takes no ID.
    EXPECT_EQ(-1, openReader(host, "/dev/nonexistent-reader"));
    EXPECT_EQ(245, lastError(host).code);
    EXPECT_EQ(2, openReader(host, second.path()));

    EXPECT_TRUE(boolCall(host, "Close", {Value(1)}));
    // Closing again fails without a reason; the ID is not handed out again.
    EXPECT_FALSE(boolCall(host, "Close", {Value(1)}));
    LastError error = lastError(host);
    EXPECT_EQ(0, error.code);
    EXPECT_EQ("", error.text);
    EXPECT_EQ(3, openReader(host, first.path()));
    EXPECT_TRUE(boolCall(host, "Close", {Value(2)}));
    EXPECT_TRUE(boolCall(host, "Close", {Value(3)}));
}

TEST(DriverRegistry, OpenSendsTheSettingsToTheReader) {
    Reader reader;
    TestHost::Host host;
    ASSERT_TRUE(setParameter(host, "BZVolume", Value(1)));
    ASSERT_TRUE(setParameter(host, "BZAlarm", Value(false)));
    ASSERT_TRUE(setParameter(host, "BZGoodReadBeep", Value(false)));
    ASSERT_TRUE(setParameter(host, "BZGoodReadBeepFreq", Value(2)));
    ASSERT_TRUE(setParameter(host, "BZGoodReadBeepDuration", Value(3)));
    ASSERT_TRUE(setParameter(host, "VibroEnabled", Value(true)));
    ASSERT_TRUE(setParameter(host, "VibroDuration", Value(4)));
    // Keys are case-sensitive: this does not switch the link to Bluetooth.
    ASSERT_TRUE(setParameter(host, "connectiontype", Value(1)));
    ASSERT_TRUE(setParameter(host, "SerialPort", Value(text(reader.path()))));

    TestHost::CallResult open = host.call("Подключить", {Value()});
    ASSERT_TRUE(open.ok);
    ASSERT_TRUE(open.result.boolean()) << lastError(host).text;
    EXPECT_EQ(Value(1), open.args[0]);

    const Emulator::ReaderState state = reader->state();
    EXPECT_EQ(1, state.buzzerVolume);
    EXPECT_FALSE(state.buzzerAlarm);
    EXPECT_FALSE(state.goodReadBeep);
    EXPECT_EQ(2, state.goodReadFrequency);
    EXPECT_EQ(3, state.goodReadDuration);
    EXPECT_TRUE(state.vibrationEnabled);
    EXPECT_EQ(4, state.vibrationDuration);
}

TEST(DriverRegistry, ReaderThatRefusesItsSettingsIsNotKept) {
    Reader reader;
    reader->setMode(Emulator::FaultMode::Refuse);
    TestHost::Host host;
    EXPECT_EQ(-1, openReader(host, reader.path()));
    LastError error = lastError(host);
    EXPECT_EQ(247, error.code);
    EXPECT_EQ("Не удалось настроить устройство", error.text);

    // An unknown connection kind leaves the reader without a port.
    reader->setMode(Emulator::FaultMode::Normal);
    ASSERT_TRUE(setParameter(host, "ConnectionType", Value(7)));
    EXPECT_FALSE(boolCall(host, "Open", {Value()}));
    EXPECT_EQ(245, lastError(host).code);

    ASSERT_TRUE(setParameter(host, "ConnectionType", Value(0)));
    TestHost::CallResult open = host.call("Open", {Value()});
    ASSERT_TRUE(open.ok && open.result.boolean());
    EXPECT_EQ(Value(1), open.args[0]) << "the failed opens took no ID";
}

TEST(DriverRegistry, DeviceTestLeavesItsArgumentsAndKeepsNoReader) {
    Reader reader;
    TestHost::Host host;
    ASSERT_TRUE(setParameter(host, "SerialPort", Value(text(reader.path()))));

    const std::vector<Value> args = {Value(u"описание"), Value(7)};
    TestHost::CallResult test = host.call("DeviceTest", args);
    ASSERT_TRUE(test.ok);
    EXPECT_TRUE(test.result.boolean());
    EXPECT_EQ(args, test.args);
    EXPECT_EQ(0, lastError(host).code);

    // A silent reader is reported with the engine's reason.
    reader->setMode(Emulator::FaultMode::Silent);
    test = host.call("DeviceTest", args);
    ASSERT_TRUE(test.ok);
    EXPECT_FALSE(test.result.boolean());
    EXPECT_EQ(args, test.args);
    LastError error = lastError(host);
    EXPECT_EQ(404, error.code);
    EXPECT_EQ("Не удалось связаться с устройством", error.text);

    // The tests kept nothing: the first Open still gets ID 1.
    reader->setMode(Emulator::FaultMode::Normal);
    EXPECT_EQ(1, openReader(host, reader.path()));
}

TEST(DriverActions, ResetSettingResetsAndBeeps) {
    Reader reader;
    TestHost::Host host;
    ASSERT_TRUE(setParameter(host, "SerialPort", Value(text(reader.path()))));
    EXPECT_TRUE(boolCall(host, "DoAdditionalAction", {Value(u"ResetSetting")}));

    const Emulator::ReaderState state = reader->state();
    EXPECT_EQ(1, state.factoryResets);
    EXPECT_GE(state.testBeeps, 1);
    EXPECT_TRUE(reader->waitForCommand(0x09, 0x10, milliseconds(0)));  // reset
    EXPECT_TRUE(reader->waitForCommand(0x09, 0x08, milliseconds(0)));  // beep

    // A reader that does not answer the reset: false with the engine's reason.
    reader->setMode(Emulator::FaultMode::Silent);
    EXPECT_FALSE(boolCall(host, "DoAdditionalAction", {Value(u"ResetSetting")}));
    EXPECT_EQ(404, lastError(host).code);
}

TEST(DriverActions, SendSerialPairsTheReceiver) {
    Emulator::Options options;
    options.receiver = true;
    options.serial = "T60A12B3C";
    Reader receiver(options);
    TestHost::Host host;
    // The serial number goes out in upper case whatever the host typed.
    ASSERT_TRUE(setParameter(host, "BT3610Serial", Value(u"t60a12b3c")));
    ASSERT_TRUE(setParameter(host, "BT3610Port", Value(text(receiver.path()))));

    EXPECT_TRUE(boolCall(host, "DoAdditionalAction", {Value(u"SendSerial")})) << lastError(host).text;
    const Emulator::ReaderState state = receiver->state();
    EXPECT_EQ("T60A12B3C", state.target3610);
    EXPECT_TRUE(state.receiverConnected);
    EXPECT_EQ(1, state.modeSwitches);
    EXPECT_EQ(0, lastError(host).code);
}

}  // namespace
