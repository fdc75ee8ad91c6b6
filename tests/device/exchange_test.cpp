// The frame exchange byte for byte over a scripted serial line: writes with
// their retries and partial writes, reads with their attempts, event frames
// in front of answers, and the DTR/RTS line control around every exchange.
#include <gtest/gtest.h>

#include <functional>

#include "device/device.h"
#include "tests/device/driver_owner.h"
#include "tests/device/scripted_port_impl.h"
#include "tests/device/test_frames.h"

namespace {

using ScriptedLine::bytes;
using ScriptedLine::hex;
using Strings = std::vector<std::string>;

const std::string kKeepAlive = bytes("5A 04 01 09 05 FF ED 7E");
const std::string kGetInfo = bytes("5A 04 01 01 01 FF F9 7E");

class Exchange : public ::testing::Test {
protected:
    void SetUp() override { ScriptedLine::reset(); }

    DriverOwner owner;
    Device device;
};

TEST_F(Exchange, WritesThatTakeNothingGiveUpAfterFiveWithoutReading) {
    ScriptedLine::queueWriteCounts({0, 0, 0, 0, 0, 0, 0});
    std::string answer = "old";
    EXPECT_FALSE(device.sendCommand(kGetInfo, answer, 10, 5, true));
    EXPECT_EQ(ScriptedLine::count("write"), 5u);
    EXPECT_EQ(ScriptedLine::count("read"), 0u);
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 1000);
    EXPECT_EQ(error.text, L"Не удалось отправить команду");
}

TEST_F(Exchange, PartialWriteIsContinuedWithTheRest) {
    ScriptedLine::queueWriteCounts({3, 0});
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 0));
    std::string answer;
    EXPECT_TRUE(device.sendCommand(kGetInfo, answer, 10, 5, true));
    EXPECT_EQ(ScriptedLine::writes(), (Strings{"5A 04 01", "", "01 01 FF F9 7E"}));
    EXPECT_EQ(answer, TestFrames::answer(0x01, 0x01, 0));
}

TEST_F(Exchange, SilentReaderCostsTwoWritesAndTenReads) {
    std::string answer;
    EXPECT_FALSE(device.sendCommand(kGetInfo, answer, 10, 5, true));
    // Written in attempts 1 and 6, read in every attempt.
    const Strings order = ScriptedLine::calls({"write", "read"});
    Strings expected;
    for (int attempt = 1; attempt <= 10; ++attempt) {
        if (attempt == 1 || attempt == 6)
            expected.push_back("write " + hex(kGetInfo));
        expected.push_back("read");
    }
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(answer.empty());
    const DriverOwner::Error error = owner.takeError();
    EXPECT_EQ(error.code, 1001);
    EXPECT_EQ(error.text, L"Нет ответа от устройства");
}

// What one read brings, and what sendCommand hands back as the answer.
struct EventCase {
    const char* name;
    Strings reads;
    std::string expected;
    std::size_t expectedReads;
};

TEST_F(Exchange, EventFramesInFrontOfTheAnswerAreDropped) {
    const std::string press = TestFrames::event('N', 17);
    const std::string other = TestFrames::event('F', 20);
    const std::string reply = TestFrames::answer(0x01, 0x01, 0);
    const EventCase cases[] = {
        {"event then answer in one read", {press + reply}, reply, 1},
        {"two events: the second counts as the answer", {press + other}, other, 1},
        {"only an event: read again", {press, reply}, reply, 2},
        // The rest of the event is read on and dropped with it, not taken for the answer.
        {"event in pieces, then the answer", {press.substr(0, 10), press.substr(10) + reply}, reply, 2},
        {"event in pieces, the answer in the next attempt", {press.substr(0, 10), press.substr(10), reply}, reply, 3},
        // Cut off with nothing more to come: nothing of it is usable, the attempt is empty.
        {"event cut off for good", {press.substr(0, 10), "", reply}, reply, 3},
    };
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        for (const std::string& chunk : c.reads)
            ScriptedLine::queueRead(chunk);
        std::string answer;
        EXPECT_TRUE(device.sendCommand(kGetInfo, answer, 10, 5, true));
        EXPECT_EQ(hex(answer), hex(c.expected));
        EXPECT_EQ(ScriptedLine::count("read"), c.expectedReads);
        EXPECT_EQ(ScriptedLine::count("write"), 1u);
    }
}

TEST_F(Exchange, WithoutAwaitingAnAnswerOnlyWritesAndTouchesNothingElse) {
    owner.setError(7, L"earlier");
    std::string answer = "kept";
    EXPECT_TRUE(device.sendCommand(kKeepAlive, answer, 1, 1, false));
    EXPECT_EQ(ScriptedLine::writes(), Strings{hex(kKeepAlive)});
    EXPECT_EQ(ScriptedLine::count("read"), 0u);
    EXPECT_EQ(answer, "kept");
    EXPECT_EQ(owner.takeError().code, 7);
}

TEST_F(Exchange, NextAnswerSkipsOnlyFEventsLongerThanSeventeenBytes) {
    const std::string reply = TestFrames::answer(0x19, 0x08, 0);
    {
        SCOPED_TRACE("18-byte F event alone: read again");
        ScriptedLine::queueRead(TestFrames::event('F', 18));
        ScriptedLine::queueRead(reply);
        std::string answer = "stale";
        EXPECT_TRUE(device.nextAnswer(answer));
        EXPECT_EQ(hex(answer), hex(reply));
        EXPECT_EQ(ScriptedLine::count("read"), 2u);
    }
    {
        SCOPED_TRACE("17-byte F event is kept");
        ScriptedLine::reset();
        const std::string shortEvent = TestFrames::event('F', 17);
        ScriptedLine::queueRead(shortEvent);
        std::string answer;
        EXPECT_TRUE(device.nextAnswer(answer));
        EXPECT_EQ(hex(answer), hex(shortEvent));
        EXPECT_EQ(ScriptedLine::count("read"), 1u);
    }
    {
        SCOPED_TRACE("F event followed by an answer in one read");
        ScriptedLine::reset();
        ScriptedLine::queueRead(TestFrames::event('F', 18) + reply);
        std::string answer;
        EXPECT_TRUE(device.nextAnswer(answer));
        EXPECT_EQ(hex(answer), hex(reply));
    }
    {
        SCOPED_TRACE("F event in pieces: its rest goes with it");
        ScriptedLine::reset();
        const std::string longEvent = TestFrames::event('F', 24);
        ScriptedLine::queueRead(longEvent.substr(0, 18));
        ScriptedLine::queueRead(longEvent.substr(18) + reply);
        std::string answer;
        EXPECT_TRUE(device.nextAnswer(answer));
        EXPECT_EQ(hex(answer), hex(reply));
    }
    {
        SCOPED_TRACE("nothing arrives");
        ScriptedLine::reset();
        std::string answer = "stale";
        EXPECT_FALSE(device.nextAnswer(answer));
        EXPECT_TRUE(answer.empty());
        EXPECT_EQ(ScriptedLine::count("write"), 0u);
    }
}

TEST_F(Exchange, LineControlDropsTheLinesForWritesAndRaisesThemForReads) {
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 0));
    std::string answer;
    ASSERT_TRUE(device.sendCommand(kGetInfo, answer, 10, 5, true));
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 0));
    ASSERT_TRUE(device.nextAnswer(answer));
    const std::string reply = "read " + hex(TestFrames::answer(0x01, 0x01, 0));
    EXPECT_EQ(ScriptedLine::calls(),
              (Strings{"flush", "dtr 0", "rts 0", "write " + hex(kGetInfo), "dtr 1", "rts 1", reply, "dtr 1",
                       "rts 1", reply}));
}

TEST_F(Exchange, TheReceiverLineIsNeverDrivenOrDrained) {
    device.setConnectionType(2);
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 0));
    std::string answer;
    ASSERT_TRUE(device.sendCommand(kGetInfo, answer, 10, 5, true));
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 0));
    ASSERT_TRUE(device.nextAnswer(answer));
    EXPECT_EQ(ScriptedLine::calls({"flush", "dtr", "rts"}), Strings{});
    EXPECT_EQ(ScriptedLine::count("write"), 1u);
    EXPECT_EQ(ScriptedLine::count("read"), 2u);
}

// Every fixed frame the engine sends follows the checksum rule and is
// exactly the frame the reader knows.
TEST_F(Exchange, FixedFramesGoOutExactly) {
    struct FixedFrame {
        const char* name;
        std::function<void(Device&)> send;
        Strings frames;
    };
    const FixedFrame cases[] = {
        {"keepAlive", [](Device& d) { d.keepAlive(); }, {"5A 04 01 09 05 FF ED 7E"}},
        {"getInfo", [](Device& d) { std::string t; d.getInfo(t); }, {"5A 04 01 01 01 FF F9 7E"}},
        {"factoryReset", [](Device& d) { d.factoryReset(); }, {"5A 06 01 09 10 00 00 FF E0 7E"}},
        {"testBeep", [](Device& d) { d.testBeep(); },
         {"5A 0A 01 09 08 03 01 01 01 00 01 FF DD 7E", "5A 0A 01 09 08 03 01 00 01 00 01 FF DE 7E"}},
        {"enableEvents", [](Device& d) { d.enableEvents(); }, {"5A 07 01 09 20 02 67 01 FF 65 7E"}},
        {"disableEvents", [](Device& d) { d.disableEvents(); }, {"5A 07 01 09 20 02 67 00 FF 66 7E"}},
        {"enableHostMode", [](Device& d) { d.enableHostMode(); }, {"5A 05 01 0B 30 01 FF BE 7E"}},
        {"epc2Usb", [](Device& d) { d.epc2Usb(); }, {"5A 05 01 0C 0A 01 FF E3 7E"}},
        {"readEPCData", [](Device& d) { std::string a, b, c; d.readEPCData(a, b, c); }, {"5A 05 01 0B 36 01 FF B8 7E"}},
    };
    for (const FixedFrame& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine::reset();
        ScriptedLine::setResponder([](const std::string& written) {
            ScriptedLine::queueRead(TestFrames::answer(0x01, static_cast<std::uint8_t>(written[4]), 0));
        });
        c.send(device);
        EXPECT_EQ(ScriptedLine::writes(), c.frames);
        for (const std::string& frame : ScriptedLine::writes())
            EXPECT_TRUE(TestFrames::checksumHolds(bytes(frame))) << frame;
    }
}

TEST(ExchangeWithoutDriver, ADeviceBuiltBeforeTheClassIsRegisteredStillWorks) {
    ScriptedLine::reset();
    Device device;
    std::string text;
    EXPECT_FALSE(device.getInfo(text));
    EXPECT_EQ(ScriptedLine::count("read"), 10u);
    ScriptedLine::queueRead(TestFrames::answer(0x01, 0x01, 0));
    EXPECT_TRUE(device.getInfo(text));
}

}  // namespace
