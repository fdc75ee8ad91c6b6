// The driver's documents and the methods that need no reader, through the
// loaded library: the parameter table and the actions list compared whole
// with their golden files, the additional actions' gate and refusals, and the
// error state that every method but the three session methods clears.
#include <glob.h>

#include <string>
#include <vector>

#include "driver_host.h"

namespace {

using namespace DriverTest;

// The machine's serial ports in the order the driver lists them.
std::vector<std::string> machinePorts() {
    std::vector<std::string> ports;
    glob_t found{};
    const char* patterns[] = {"/dev/ttyACM*", "/dev/ttyS*", "/dev/ttyUSB*", "/dev/tty.*", "/dev/cu.*"};
    int flags = 0;
    for (const char* pattern : patterns) {
        glob(pattern, flags, nullptr, &found);
        flags = GLOB_APPEND;
    }
    for (std::size_t i = 0; i < found.gl_pathc; ++i)
        ports.push_back(found.gl_pathv[i]);
    globfree(&found);
    return ports;
}

// Takes the items out of the SerialPort choice list, which lists whatever
// ports this machine has, and returns their values; each item must carry the
// port name as both value and text.
std::vector<std::string> takeSerialPortItems(std::u16string& xml) {
    std::vector<std::string> ports;
    const std::size_t parameter = xml.find(u"<Parameter Name=\"SerialPort\"");
    const std::u16string open = u"<ChoiceList>\n";
    const std::size_t begin = xml.find(open, parameter);
    const std::size_t end = xml.find(u"</ChoiceList>", begin);
    if (parameter == std::u16string::npos || begin == std::u16string::npos || end == std::u16string::npos) {
        ADD_FAILURE() << "no SerialPort choice list";
        return ports;
    }
    const std::size_t first = begin + open.size();
    std::istringstream items(TestHost::toUtf8(xml.substr(first, end - first)));
    std::string line;
    while (std::getline(items, line)) {
        const std::string prefix = "<Item Value=\"";
        const std::size_t quote = line.find("\">");
        if (line.rfind(prefix, 0) != 0 || quote == std::string::npos) {
            ADD_FAILURE() << "not an item: " << line;
            continue;
        }
        const std::string value = line.substr(prefix.size(), quote - prefix.size());
        EXPECT_EQ(prefix + value + "\">" + value + "</Item>", line);
        ports.push_back(value);
    }
    xml.erase(first, end - first);
    return ports;
}

TEST(DriverDocuments, ParameterTableMatchesGoldenWithTheMachinesPorts) {
    TestHost::Host host;
    TestHost::CallResult call = host.call("GetParameters", {Value()});
    ASSERT_TRUE(call.ok);
    EXPECT_TRUE(call.result.boolean());
    std::u16string xml = call.args[0].text();

    // The golden file holds the table of a machine without serial ports and
    // without a Bluetooth search; the ports found here are compared apart.
    EXPECT_EQ(machinePorts(), takeSerialPortItems(xml));
    EXPECT_EQ(fixture("parameters_linux.xml"), xml);
    EXPECT_EQ(std::u16string::npos, xml.find(u"BT3610")) << "the receiver is not offered here";
}

TEST(DriverDocuments, ActionsListMatchesGolden) {
    TestHost::Host host;
    // By its Russian name, as a configuration written in Russian calls it.
    TestHost::CallResult call = host.call("ПолучитьДополнительныеДействия", {Value()});
    ASSERT_TRUE(call.ok);
    EXPECT_TRUE(call.result.boolean());
    EXPECT_EQ(fixture("actions_linux.xml"), call.args[0].text());
    EXPECT_EQ(std::u16string::npos, call.args[0].text().find(u"SendSerial"));
}

TEST(DriverActions, GateAndRefusalsWithoutReader) {
    TestHost::Host host;
    // Before any setting from the host no action runs, not even a known one.
    EXPECT_FALSE(boolCall(host, "DoAdditionalAction", {Value(u"ResetSetting")}));
    LastError error = lastError(host);
    EXPECT_EQ(0, error.code);
    EXPECT_EQ("", error.text);

    ASSERT_TRUE(setParameter(host, "EquipmentType", Value(text("СчитывательRFID"))));

    struct Case {
        const char* action;
        long code;
        const char* text;
    };
    const Case cases[] = {
        {"Nothing", 0, ""},
        {"sendserial", 0, ""},  // action names compare exactly
        {"SendSerial", 600, "Серийный номер 3610 должен содержать 9 символов"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(boolCall(host, "DoAdditionalAction", {Value(text(c.action))})) << c.action;
        error = lastError(host);
        EXPECT_EQ(c.code, error.code) << c.action;
        EXPECT_EQ(c.text, error.text) << c.action;
    }

    // Eight characters are one short of a receiver serial number; ten one too many.
    for (const char* serial : {"12345678", "1234567890"}) {
        ASSERT_TRUE(setParameter(host, "BT3610Serial", Value(text(serial))));
        EXPECT_FALSE(boolCall(host, "DoAdditionalAction", {Value(u"SendSerial")})) << serial;
        EXPECT_EQ(600, lastError(host).code) << serial;
    }
}

TEST(DriverActions, FailedBluetoothSearchLeavesNoReaderOnOffer) {
    TestHost::Host host;
    ASSERT_TRUE(setParameter(host, "ConnectionType", Value(1)));
    const bool found = boolCall(host, "DoAdditionalAction", {Value(u"ScanBluetooth")});
    if (found)
        GTEST_SKIP() << "this machine has a Bluetooth adapter";
    // Without an adapter the local device cannot be set up.
    LastError error = lastError(host);
    EXPECT_EQ(706, error.code);
    EXPECT_EQ("Ошибка инициализации порта соединения", error.text);
    TestHost::CallResult table = host.call("GetParameters", {Value()});
    EXPECT_NE(std::u16string::npos,
              table.args[0].text().find(u"<Item Value=\"NO_DEVICE\">Нет устройств (Функции -> Поиск "
                                        u"устройств Bluetooth)</Item>"));
}

TEST(DriverErrors, FailedOpenIsKeptBySessionMethodsAndClearedByOthers) {
    TestHost::Host host;
    // No port set: the reader cannot be reached.
    TestHost::CallResult open = host.call("Open", {Value()});
    ASSERT_TRUE(open.ok);
    EXPECT_FALSE(open.result.boolean());
    EXPECT_TRUE(open.args[0].isEmpty()) << "no ID on failure";
    LastError error = lastError(host);
    EXPECT_EQ(245, error.code);
    EXPECT_EQ("Не удалось подключиться к устройству", error.text);

    // The session methods leave an unread error in place, even for an ID
    // that is not open.
    ASSERT_FALSE(boolCall(host, "Open", {Value()}));
    EXPECT_FALSE(boolCall(host, "OpenSessionRFID", {Value(1)}));
    EXPECT_FALSE(boolCall(host, "CloseSessionRFID", {Value(1)}));
    TestHost::CallResult fetch = host.call("GetDataTagsRFID", {Value(1), Value(u"1"), Value(u"kept")});
    EXPECT_TRUE(fetch.ok);
    EXPECT_FALSE(fetch.result.boolean());
    EXPECT_EQ(Value(u"kept"), fetch.args[2]) << "an unknown ID leaves the output alone";
    EXPECT_EQ(245, lastError(host).code);

    // Any other method starts from a clean error state.
    ASSERT_FALSE(boolCall(host, "Open", {Value()}));
    EXPECT_TRUE(host.call("GetVersion").ok);
    EXPECT_EQ(0, lastError(host).code);
}

TEST(DriverErrors, UnknownIdsAndWrongArgumentTypes) {
    TestHost::Host host;
    // Closing or writing through an ID that is not open fails without a reason.
    EXPECT_FALSE(boolCall(host, "Close", {Value(1)}));
    LastError error = lastError(host);
    EXPECT_EQ(0, error.code);
    EXPECT_EQ("", error.text);
    EXPECT_FALSE(boolCall(host, "SaveDataTagRFID",
                          {Value(1), Value(u"E200"), Value(u"E200"), Value(u"01"), Value(1), Value(1)}));
    EXPECT_EQ(0, lastError(host).code);
    // A bank other than EPC (1) and user memory (2) is refused without a reason.
    EXPECT_FALSE(boolCall(host, "SaveDataTagRFID",
                          {Value(1), Value(u"E200"), Value(u"E200"), Value(u"01"), Value(3), Value(1)}));
    EXPECT_EQ(0, lastError(host).code);

    // A value of another type than a method reads is reported to the host.
    struct Case {
        const char* method;
        std::vector<Value> args;
    };
    const Case cases[] = {
        {"Close", {Value(u"1")}},
        {"SetParameter", {Value(u"BZAlarm"), Value(1)}},  // a number is not a bool
        {"SetParameter", {Value(1), Value(1)}},
        {"OpenSessionRFID", {Value(1.0)}},
        {"GetDataTagsRFID", {Value(1), Value(1), Value()}},
        {"SaveDataTagRFID", {Value(1), Value(u"E200"), Value(u"E200"), Value(u"01"), Value(u"1"), Value(1)}},
    };
    for (const Case& c : cases) {
        host.connection().clearErrors();
        TestHost::CallResult call = host.call(c.method, c.args);
        EXPECT_FALSE(call.ok) << c.method;
        const std::vector<TestHost::ErrorMessage> reported = host.connection().errors();
        ASSERT_EQ(1u, reported.size()) << c.method;
        EXPECT_EQ(1005, reported[0].code);
        EXPECT_EQ(u"<bad cast>", reported[0].description);
        error = lastError(host);
        EXPECT_EQ(111, error.code) << c.method;
        EXPECT_EQ("<bad cast>", error.text) << c.method;
    }
}

}  // namespace
