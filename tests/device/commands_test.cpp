// The reader's commands byte for byte over a scripted serial line: opening
// and closing the port, the probe, the configuration frames and their
// answer checks, and the tag memory frames with the parsing of their answers.
#include <gtest/gtest.h>

#include <chrono>

#include "device/device.h"
#include "tests/device/driver_owner.h"
#include "tests/device/scripted_port_impl.h"
#include "tests/device/test_frames.h"

namespace {

using ScriptedLine::bytes;
using ScriptedLine::hex;
using Strings = std::vector<std::string>;

const char* const kPc = "3400";
const char* const kEpc = "E2000017220B0123456789AB";
const char* const kTid = "E20034120123456789ABCDEF";
// The tag-data answer of the reader for that tag: the EPC is followed by two
// more bytes (12 34) that are not part of it.
const std::string kTagData = TestFrames::tagData("3400", "E2000017220B0123456789AB1234", "E20034120123456789ABCDEF");

class Commands : public ::testing::Test {
protected:
    void SetUp() override { ScriptedLine::reset(); }

    DriverOwner owner;
    Device device;
};

// ---- Connection

TEST_F(Commands, OpeningConfiguresTheLineForEachConnectionType) {
    const Strings common = {"port /dev/ttyACM0", "baud 115200", "timeout 4294967295 250 0 250 0", "stopbits 1",
                            "bytesize 8"};
    {
        SCOPED_TRACE("reader on a USB port: hardware flow control, lines raised");
        device.setPort("/dev/ttyACM0", 5);
        device.setConnectionType(0);
        EXPECT_TRUE(device.openPort());
        Strings expected = common;
        expected.insert(expected.end(), {"flow 2", "dtr 1", "rts 1", "open", "flush"});
        EXPECT_EQ(ScriptedLine::calls(), expected);
        EXPECT_TRUE(device.closePort());
    }
    {
        SCOPED_TRACE("3610 receiver: no flow control, lines left alone");
        Device receiver;
        ScriptedLine::reset();
        receiver.setConnectionType(2);
        receiver.setPort("/dev/ttyACM0", 5);
        EXPECT_TRUE(receiver.openPort());
        Strings expected = common;
        expected.insert(expected.end(), {"open", "flush"});
        EXPECT_EQ(ScriptedLine::calls(), expected);
    }
}

TEST_F(Commands, APortThatCannotOpenReportsItsOwnCodeAndText) {
    device.setPort("/dev/ttyACM9", 5);
    ScriptedLine::failNextOpen(2, "Unknown error opening the serial port : 2");
    EXPECT_FALSE(device.openPort());
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.text, L"Unknown error opening the serial port : 2");
    // Still flushed before returning; nothing was opened, so closing refuses.
    EXPECT_EQ(ScriptedLine::calls().back(), "flush");
    ScriptedLine::reset();
    EXPECT_FALSE(device.closePort());
    EXPECT_EQ(ScriptedLine::calls(), Strings{});
}

TEST_F(Commands, ABluetoothConnectFailureIsReportedAsCannotConnect) {
    device.setConnectionType(1);
    device.setPort("00:11:22:33:44:55", 0);  // channel 0 cannot be connected
    EXPECT_FALSE(device.openPort());
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 704);
    EXPECT_EQ(error.text, L"Не удается соединиться с устройством");
    EXPECT_EQ(ScriptedLine::calls(), Strings{});  // the serial line is not touched
    EXPECT_TRUE(device.closePort());
}

TEST_F(Commands, TheProbeNeedsAnAcceptingAnswer) {
    std::string text = "unchanged";
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 1));
    EXPECT_FALSE(device.getInfo(text));
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 404);
    EXPECT_EQ(error.text, L"Не удалось связаться с устройством");
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 0));
    EXPECT_TRUE(device.getInfo(text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(owner.takeError().code, 0);
}

// ---- Configuration

TEST_F(Commands, SettingsFramesCarryTheLowBytesOfTheValues) {
    struct Case {
        const char* name;
        std::function<bool(Device&)> send;
        const char* frame;
    };
    const Case cases[] = {
        {"buzzer", [](Device& d) { return d.setBuzzerConfig(3, true, false); },
         "5A 0A 01 09 08 03 01 00 00 00 01 FF DF 7E"},
        {"buzzer volume 300", [](Device& d) { return d.setBuzzerConfig(300, true, true); },
         "5A 0A 01 09 08 2C 01 00 01 00 01 FF B5 7E"},
        {"good read", [](Device& d) { return d.setGoodReadConfig(2, 1); }, "5A 06 01 09 09 02 01 FF E4 7E"},
        {"vibrator", [](Device& d) { return d.setVibratorConfig(true, 10); }, "5A 06 01 09 0B 01 0A FF DA 7E"},
        {"3610 target", [](Device& d) { return d.set3610Target("123456789"); },
         "5A 0E 01 0A 04 01 31 32 33 34 35 36 37 38 39 FE 05 7E"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        ScriptedLine::setResponder([](const std::string& written) {
            const int kind = written[3] == 0x0A ? 0x1A : 0x19;
            ScriptedLine::queueRead(TestFrames::answer(kind, static_cast<std::uint8_t>(written[4]), 0));
        });
        EXPECT_TRUE(c.send(device));
        EXPECT_EQ(ScriptedLine::writes(), Strings{c.frame});
        EXPECT_EQ(ScriptedLine::count("read"), 1u);
    }
}

TEST_F(Commands, SettingsAnswersAreCheckedByKindCodeAndStatus) {
    struct Case {
        const char* name;
        Strings reads;
        bool accepted;
        std::size_t reads_made;
        long code;
    };
    const std::string accepted = TestFrames::answer(0x19, 0x08, 0);
    const Case cases[] = {
        {"accepted", {accepted}, true, 1, 0},
        {"refused: no further read", {TestFrames::answer(0x19, 0x08, 1)}, false, 1, 210},
        {"another frame first, then the answer", {TestFrames::answer(0x12, 0x06, 0), accepted}, true, 2, 0},
        {"another frame first, then another command", {TestFrames::answer(0x12, 0x06, 0), TestFrames::answer(0x19, 0x09, 0)},
         false, 2, 210},
        {"another frame first, then nothing", {TestFrames::answer(0x12, 0x06, 0)}, false, 2, 210},
        {"no answer at all", {}, false, 10, 1001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        for (const std::string& chunk : c.reads)
            ScriptedLine::queueRead(chunk);
        EXPECT_EQ(device.setBuzzerConfig(3, true, true), c.accepted);
        EXPECT_EQ(ScriptedLine::count("read"), c.reads_made);
        const DriverOwner::Error error = owner.takeError();
        EXPECT_EQ(error.code, c.code);
        if (c.code == 210) {
            EXPECT_EQ(error.text, L"Не удалось отправить настройки");
        }
    }
}

TEST_F(Commands, TestBeepSucceedsWhenEitherFrameIsAccepted) {
    ScriptedLine::queueRead(TestFrames::answer(0x19, 0x08, 1));
    ScriptedLine::queueRead(TestFrames::answer(0x19, 0x08, 0));
    EXPECT_TRUE(device.testBeep());
    ScriptedLine::queueRead(TestFrames::answer(0x19, 0x08, 1));
    ScriptedLine::queueRead(TestFrames::answer(0x19, 0x08, 1));
    EXPECT_FALSE(device.testBeep());
    EXPECT_EQ(owner.takeError().code, 0);
}

TEST_F(Commands, FactoryResetRefusedIsNoContact) {
    ScriptedLine::queueRead(TestFrames::answer(0x19, 0x10, 1));
    EXPECT_FALSE(device.factoryReset());
    EXPECT_EQ(owner.takeError().code, 404);
    ScriptedLine::queueRead(TestFrames::answer(0x19, 0x10, 0));
    EXPECT_TRUE(device.factoryReset());
}

TEST_F(Commands, ReceiverTargetOfAnotherLengthIsRefusedUnsent) {
    EXPECT_FALSE(device.set3610Target("12345678"));
    EXPECT_EQ(ScriptedLine::count("write"), 0u);
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 209);
    EXPECT_EQ(error.text, L"Не удалось отправить серийный номер 3610");
}

TEST_F(Commands, ReceiverPairingPollsUntilConnectedThenSwitchesMode) {
    const std::string notYet = TestFrames::answer(0x12, 0x06, 0);  // short: not connected
    const std::string connected = TestFrames::frame("01 12 06 00" + std::string(3 * 20, '0'));
    ScriptedLine::queueRead(notYet);
    ScriptedLine::queueRead(connected);
    ScriptedLine::queueRead(TestFrames::answer(0x1A, 0x06, 0));
    EXPECT_TRUE(device.enable3610());
    EXPECT_EQ(ScriptedLine::writes(),
              (Strings{"5A 04 01 02 06 FF F3 7E", "5A 04 01 02 06 FF F3 7E",
                       "5A 14 01 0A 06 60 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 FF 7B 7E"}));
}

// ---- Tag memory

struct ReadCase {
    const char* name;
    Strings reads;
    bool ok;
    const char* pc;
    const char* epc;
    const char* tid;
    long code;
};

TEST_F(Commands, TagDataAnswersAreParsedAtTheirOffsets) {
    const std::string otherCommand = TestFrames::tagData("3400", "E2000017220B0123456789AB1234", kTid, 0x32);
    const std::string shortTid = TestFrames::tagData("3400", "E2000017220B0123456789AB1234", "E2003412");
    // The TID count points 4 bytes past what was received.
    std::string pastEnd = kTagData;
    pastEnd[32] = 0x10;
    const ReadCase cases[] = {
        {"the tag", {kTagData}, true, kPc, kEpc, kTid, 0},
        {"behind an event frame in the same read", {TestFrames::event('N', 18) + kTagData}, true, kPc, kEpc, kTid, 0},
        {"in two pieces", {kTagData.substr(0, 24), kTagData.substr(24)}, true, kPc, kEpc, kTid, 0},
        {"behind an answer of another kind that arrives in pieces",
         {TestFrames::answer(0x19, 0x08, 0).substr(0, 5), TestFrames::answer(0x19, 0x08, 0).substr(5) + kTagData}, true,
         kPc, kEpc, kTid, 0},
        {"behind an answer of another kind, in the next read",
         {TestFrames::answer(0x19, 0x08, 0), kTagData}, true, kPc, kEpc, kTid, 0},
        {"not a tag-data frame, nothing more", {TestFrames::answer(0x19, 0x08, 0)}, false, "", "", "", 0},
        {"tag-data kind but too short", {TestFrames::answer(0x3B, 0x36, 0)}, false, "", "", "", 0},
        {"answers another command", {otherCommand}, false, "", "", "", 300},
        {"TID of four bytes", {shortTid}, false, kPc, kEpc, "E2003412", 300},
        {"TID count past the answer", {pastEnd}, false, "", "", "", 300},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        for (const std::string& chunk : c.reads)
            ScriptedLine::queueRead(chunk);
        std::string pc = "x", epc = "x", tid = "x";
        EXPECT_EQ(device.readEPCData(pc, epc, tid), c.ok);
        EXPECT_EQ(pc, c.pc);
        EXPECT_EQ(epc, c.epc);
        EXPECT_EQ(tid, c.tid);
        const DriverOwner::Error error = owner.takeError();
        EXPECT_EQ(error.code, c.code);
        if (c.code == 300) {
            EXPECT_EQ(error.text, L"Не удалось прочитать метку");
        }
    }
}

TEST_F(Commands, UserMemoryIsReadWithTheTagSelection) {
    std::string pc = kPc, epc = kEpc, user = "x";
    ScriptedLine::queueRead(TestFrames::userData("0A1B2C3D"));
    EXPECT_TRUE(device.readUserMem(pc, epc, user));
    EXPECT_EQ(user, "0A1B2C3D");
    // Count 14 (28 characters / 2), LEN 30.
    EXPECT_EQ(ScriptedLine::writes(),
              Strings{"5A 1E 01 0B 32 00 00 00 00 00 0E 34 00 E2 00 00 17 22 0B 01 23 45 67 89 AB 03 00 00 00 00 03 "
                      "FC 32 7E"});

    struct Case {
        const char* name;
        std::string answer;
        long code;
    };
    std::string pastEnd = TestFrames::userData("0A1B2C3D");
    pastEnd[6] = 0x40;
    const Case failures[] = {
        {"no data (length byte 5)", TestFrames::frame("01 3B 32 01") + std::string(20, '\0'), 300},
        {"answers another command", TestFrames::tagData("3400", "E2000017220B0123456789AB1234", kTid), 300},
        {"data count past the answer", pastEnd, 300},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        ScriptedLine::queueRead(c.answer);
        EXPECT_FALSE(device.readUserMem(pc, epc, user));
        EXPECT_EQ(user, "");
        EXPECT_EQ(owner.takeError().code, c.code);
    }
}

TEST_F(Commands, WritesSendTheSelectionAndTheDataBytes) {
    struct Case {
        const char* name;
        bool user;
        const char* data;
        const char* frame;
    };
    const Case cases[] = {
        {"user 0102", true, "0102",
         "5A 22 01 0B 33 00 00 00 00 00 10 34 00 E2 00 00 17 22 0B 01 23 45 67 89 AB 00 00 03 00 00 00 02 01 02 00 "
         "FC 29 7E"},
        {"user ABC: length 1, bytes AB 0C", true, "ABC",
         "5A 22 01 0B 33 00 00 00 00 00 10 34 00 E2 00 00 17 22 0B 01 23 45 67 89 AB 00 00 03 00 00 00 01 AB 0C 00 "
         "FB 76 7E"},
        {"EPC", false, "300833B2DDD9014000000000",
         "5A 2C 01 0B 33 00 00 00 00 00 10 34 00 E2 00 00 17 22 0B 01 23 45 67 89 AB 00 00 01 00 04 00 0C 30 08 33 B2 "
         "DD D9 01 40 00 00 00 00 00 F9 02 7E"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        ScriptedLine::queueRead(TestFrames::answer(0x3B, 0x33, 0));
        std::string pc = kPc, epc = kEpc, data = c.data;
        EXPECT_TRUE(c.user ? device.writeUserData(pc, epc, data) : device.writeEPCData(pc, epc, data));
        EXPECT_EQ(ScriptedLine::writes(), Strings{c.frame});
    }
}

TEST_F(Commands, WriteAcknowledgements) {
    struct Case {
        const char* name;
        Strings reads;
        bool ok;
        long code;
    };
    const Case cases[] = {
        {"event frame first, then the acknowledgement",
         {TestFrames::event('F', 17), TestFrames::answer(0x3B, 0x33, 0)}, true, 0},
        {"another frame first, then the acknowledgement",
         {TestFrames::answer(0x19, 0x08, 0), TestFrames::answer(0x3B, 0x33, 0)}, true, 0},
        {"refused", {TestFrames::answer(0x3B, 0x33, 1)}, false, 200},
        {"another frame, then nothing", {TestFrames::answer(0x19, 0x08, 0)}, false, 200},
        {"no answer", {}, false, 1001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        for (const std::string& chunk : c.reads)
            ScriptedLine::queueRead(chunk);
        std::string pc = kPc, epc = kEpc, data = "0102";
        EXPECT_EQ(device.writeUserData(pc, epc, data), c.ok);
        const DriverOwner::Error error = owner.takeError();
        EXPECT_EQ(error.code, c.code);
        if (c.code == 200) {
            EXPECT_EQ(error.text, L"Не удалось записать данные в метку");
        }
    }
}

TEST_F(Commands, SelectionsAndFramesThatCannotBeBuiltAreRefusedUnsent) {
    std::string shortPc = "3", epc = kEpc, data = "0102", user;
    EXPECT_FALSE(device.readUserMem(shortPc, epc, user));
    EXPECT_EQ(owner.takeError().code, 300);
    EXPECT_FALSE(device.writeEPCData(shortPc, epc, data));
    EXPECT_EQ(owner.takeError().code, 200);
    // 230 data bytes and a 14-byte selection exceed what a length byte describes.
    std::string pc = kPc, longData(460, 'A');
    EXPECT_FALSE(device.writeUserData(pc, epc, longData));
    EXPECT_EQ(owner.takeError().code, 1000);
    EXPECT_EQ(ScriptedLine::count("write"), 0u);
}

TEST_F(Commands, AWriteWaitWithoutAPressTimesOutAndLeavesTheTriggerFree) {
    EXPECT_FALSE(device.waitForWriteEPC(kEpc, kTid, "0102", 1));
    DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 105);
    EXPECT_EQ(error.text, L"Истекло время ожидания");
    EXPECT_FALSE(device.waitForWriteUser(kEpc, kTid, "0102", 1));
    error = owner.takeError();
    EXPECT_EQ(error.code, 199);
    EXPECT_EQ(error.text, L"Истекло время ожидания записи");
    EXPECT_EQ(ScriptedLine::calls(), Strings{});
}

// ---- Session

// The reader's link may hand over a press in pieces (a Bluetooth read takes
// whatever has arrived): the pieces still make one press and one package.
TEST_F(Commands, APressThatArrivesInPiecesStillGivesAPackage) {
    const std::string press = TestFrames::event('N', 18);
    ScriptedLine::setResponder([&press](const std::string& written) {
        const auto code = static_cast<std::uint8_t>(written[4]);
        if (code == 0x36) {
            ScriptedLine::queueRead(kTagData);
        } else if (code == 0x32) {
            ScriptedLine::queueRead(TestFrames::userData("0A1B2C3D"));
        } else {
            ScriptedLine::queueRead(TestFrames::answer(0x01, code, 0));
            // Host mode is the last step before the worker starts polling.
            if (code == 0x30) {
                ScriptedLine::queueRead(press.substr(0, 10));
                ScriptedLine::queueRead(press.substr(10));
            }
        }
    });
    device.setID(3);
    ASSERT_TRUE(device.openSession());
    ASSERT_TRUE(owner.waitForEvents(1, std::chrono::seconds(10)));
    EXPECT_TRUE(device.closeSession());
    const DriverOwner::Event event = owner.events().front();
    EXPECT_EQ(event.source, L"3");
    EXPECT_EQ(device.getPacket(std::string(event.data.begin(), event.data.end())),
              std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Table>\n\t<Tag TID=\"") + kTid +
                      "\" EPC=\"" + kEpc + "\" USER=\"0A1B2C3D\"/>\n</Table>\n");
}

}  // namespace
