// The RFID methods through the loaded library against emulated readers: the
// session turning trigger presses into "RFID" events and tag packages, the
// session refusals, tag writes after a press, and the closing of every
// reader's session when the driver goes away.
#include <chrono>
#include <string>
#include <thread>

#include "driver_host.h"

namespace {

using namespace DriverTest;
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::u16string kTagTable =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    u"<Table>\n"
    u"\t<Tag TID=\"E20034120123456789ABCDEF\" EPC=\"E2000017220B0123456789AB\" USER=\"0A1B2C3D\"/>\n"
    u"</Table>\n";

// A reader opened as ID 1 with its session running.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(1, openReader(host, reader.path()));
        ASSERT_TRUE(boolCall(host, "OpenSessionRFID", {Value(1)})) << lastError(host).text;
    }

    // Presses the trigger and fetches the package that the event announces.
    std::u16string pressAndFetch(const std::u16string& expectedNumber) {
        EXPECT_TRUE(reader->press());
        std::optional<TestHost::Event> event = host.connection().waitForEvent(seconds(10));
        if (!event) {
            ADD_FAILURE() << "no event";
            return u"";
        }
        EXPECT_EQ(u"1", event->source);
        EXPECT_EQ(u"RFID", event->message);
        EXPECT_EQ(expectedNumber, event->data);
        TestHost::CallResult fetch = host.call("GetDataTagsRFID", {Value(1), Value(event->data), Value()});
        EXPECT_TRUE(fetch.ok && fetch.result.boolean());
        return fetch.args[2].text();
    }

    // SaveDataTagRFID with the trigger pressed by the operator once the
    // write waits; gives the call's result.
    bool writeWithPress(const std::u16string& tid, const std::u16string& data, int bank) {
        // The write waits for the press from its first moment, so one press
        // well after the call began is the operator's.
        std::thread operatorHand([this] {
            std::this_thread::sleep_for(milliseconds(500));
            reader->press();
        });
        TestHost::CallResult write = host.call(
            "SaveDataTagRFID", {Value(1), Value(tid), Value(u"E2000017220B0123456789AB"), Value(data),
                                Value(bank), Value(10)});
        operatorHand.join();
        return write.ok && write.result.boolean();
    }

    Reader reader;
    TestHost::Host host;
};

TEST_F(SessionTest, PressesBecomeEventsAndPackagesFetchedOnce) {
    EXPECT_EQ(kTagTable, pressAndFetch(u"1"));

    // A package is handed out once.
    TestHost::CallResult again = host.call("GetDataTagsRFID", {Value(1), Value(u"1"), Value(u"x")});
    ASSERT_TRUE(again.ok);
    EXPECT_TRUE(again.result.boolean());
    EXPECT_EQ(Value(u""), again.args[2]);

    // The next press with another tag in the field gets the next number.
    Emulator::Tag other = Reader::defaultTag();
    other.tid = "E2801160600002054C5E2B3A";
    other.user = "";
    ASSERT_TRUE(reader->setTag(other));
    const std::u16string second = pressAndFetch(u"2");
    EXPECT_NE(std::u16string::npos, second.find(u"TID=\"E2801160600002054C5E2B3A\"")) << TestHost::toUtf8(second);
}

TEST_F(SessionTest, SessionRefusalsAndTheirErrors) {
    EXPECT_FALSE(boolCall(host, "OpenSessionRFID", {Value(1)}));
    LastError error = lastError(host);
    EXPECT_EQ(660, error.code);
    EXPECT_EQ("Сессия уже открыта", error.text);

    EXPECT_TRUE(boolCall(host, "ЗакрытьСессиюRFID", {Value(1)}));
    EXPECT_FALSE(boolCall(host, "CloseSessionRFID", {Value(1)}));
    // An unknown ID leaves the unread reason of the call before in place.
    EXPECT_FALSE(boolCall(host, "OpenSessionRFID", {Value(2)}));
    error = lastError(host);
    EXPECT_EQ(661, error.code);
    EXPECT_EQ("Сессия не открыта", error.text);

    // The session can be opened again and still delivers.
    ASSERT_TRUE(boolCall(host, "OpenSessionRFID", {Value(1)}));
    EXPECT_EQ(kTagTable, pressAndFetch(u"1"));
    EXPECT_TRUE(boolCall(host, "Close", {Value(1)}));
}

TEST_F(SessionTest, WritesAfterAPressChangeTheTag) {
    // The EPC bank, then user memory, of the tag whose TID the host names.
    EXPECT_TRUE(writeWithPress(u"E20034120123456789ABCDEF", u"111122223333444455556666", 1))
        << lastError(host).text;
    EXPECT_EQ("111122223333444455556666", reader->tag().epc);

    Emulator::Tag tag = Reader::defaultTag();
    ASSERT_TRUE(reader->setTag(tag));
    EXPECT_TRUE(writeWithPress(u"E20034120123456789ABCDEF", u"CAFEBABE", 2)) << lastError(host).text;
    EXPECT_EQ("CAFEBABE", reader->tag().user);
    EXPECT_EQ(0, lastError(host).code);
}

TEST_F(SessionTest, WriteRefusedForAnotherTagOrWithoutPress) {
    EXPECT_FALSE(writeWithPress(u"E20034120123456789ABCDEE", u"111122223333444455556666", 1));
    LastError error = lastError(host);
    EXPECT_EQ(100, error.code);
    EXPECT_EQ("Неверная метка", error.text);
    EXPECT_EQ(Reader::defaultTag().epc, reader->tag().epc);

    struct Case {
        int bank;
        long code;
        const char* text;
    };
    const Case cases[] = {{1, 105, "Истекло время ожидания"}, {2, 199, "Истекло время ожидания записи"}};
    for (const Case& c : cases) {
        EXPECT_FALSE(boolCall(host, "SaveDataTagRFID",
                              {Value(1), Value(u"E20034120123456789ABCDEF"),
                               Value(u"E2000017220B0123456789AB"), Value(u"00"), Value(c.bank), Value(1)}));
        error = lastError(host);
        EXPECT_EQ(c.code, error.code);
        EXPECT_EQ(c.text, error.text);
    }
    EXPECT_EQ(Reader::defaultTag().user, reader->tag().user);

    // After the time-outs a press is an ordinary read again.
    EXPECT_EQ(kTagTable, pressAndFetch(u"1"));
}

TEST(DriverRegistry, DestroyingTheDriverClosesReadersInIdOrder) {
    Reader first;
    Reader second;
    TestHost::Host host;
    ASSERT_EQ(1, openReader(host, first.path()));
    ASSERT_EQ(2, openReader(host, second.path()));
    ASSERT_TRUE(boolCall(host, "OpenSessionRFID", {Value(2)}));
    ASSERT_TRUE(boolCall(host, "OpenSessionRFID", {Value(1)}));
    const std::size_t firstFrom = first->frameCount();
    const std::size_t secondFrom = second->frameCount();

    host.stop();
    // Each session ends with its reader's events disabled, the lower ID first.
    const auto disabled = [](Emulator::EmulatedReader& reader, std::size_t from) {
        for (const Emulator::ReceivedFrame& frame : reader.frames()) {
            if (from > 0) {
                --from;
                continue;
            }
            if (frame.bytes == std::string("\x5A\x07\x01\x09\x20\x02\x67\x00\xFF\x66\x7E", 11))
                return frame.time;
        }
        ADD_FAILURE() << "events were not disabled";
        return std::chrono::steady_clock::time_point();
    };
    EXPECT_LT(disabled(first.get(), firstFrom), disabled(second.get(), secondFrom));
}

}  // namespace
