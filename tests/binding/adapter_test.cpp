// The driver's component interface as the host sees it through the loaded
// library: method table and look-ups, argument type codes, the failure path
// of a call, GetVersion, GetDescription and GetLastError.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/test_host.h"

using TestHost::Value;
namespace Abi = TestHost::Abi;

namespace {

class Adapter : public ::testing::Test {
protected:
    void TearDown() override {
        // Every block the component allocated was handed over and freed by
        // the host; the component freed nothing of the host's.
        host.stop();
        const auto memory = host.memory().report();
        EXPECT_EQ(memory.liveBlocks, 0u);
        EXPECT_EQ(memory.foreignFrees, 0u);
        EXPECT_EQ(memory.foreignBlocks, 0u);
    }

    // GetLastError's code and text (clearing them).
    std::pair<std::int32_t, std::u16string> lastError() {
        const auto error = host.call("GetLastError", {Value()});
        EXPECT_TRUE(error.ok);
        return {error.result.int32(), error.args.at(0).text()};
    }

    TestHost::Host host;
};

struct MethodRow {
    const char16_t* english;
    const char16_t* russian;
    long params;
};

const MethodRow kMethods[] = {
    {u"GetVersion", u"ПолучитьНомерВерсии", 0},
    {u"GetDescription", u"ПолучитьОписание", 7},
    {u"GetParameters", u"ПолучитьПараметры", 1},
    {u"SetParameter", u"УстановитьПараметр", 2},
    {u"Open", u"Подключить", 1},
    {u"Close", u"Отключить", 1},
    {u"DeviceTest", u"ТестУстройства", 2},
    {u"GetAdditionalActions", u"ПолучитьДополнительныеДействия", 1},
    {u"DoAdditionalAction", u"ВыполнитьДополнительноеДействие", 1},
    {u"OpenSessionRFID", u"ОткрытьСессиюRFID", 1},
    {u"CloseSessionRFID", u"ЗакрытьСессиюRFID", 1},
    {u"GetDataTagsRFID", u"ПолучитьДанныеМетокRFID", 3},
    {u"SaveDataTagRFID", u"ЗаписатьДанныеВМеткуRFID", 6},
    {u"GetLastError", u"ПолучитьОшибку", 1},
};

}  // namespace

TEST_F(Adapter, StartsAsThePlatformExpects) {
    auto& component = host.component();
    EXPECT_EQ(host.registeredName(), u"Tarvel60x");
    EXPECT_EQ(component.getInfo(), 2000);
    EXPECT_EQ(component.getNProps(), 0);
    EXPECT_EQ(component.findProp(u"GetVersion"), -1);
    EXPECT_FALSE(component.isPropReadable(0));
    EXPECT_FALSE(component.isPropWritable(0));
    EXPECT_EQ(component.getPropName(0, 0), nullptr);
    Abi::Record record{};
    EXPECT_FALSE(component.getPropVal(0, &record));
    EXPECT_FALSE(component.setPropVal(0, &record));
    component.setLocale(u"ru_RU");
}

TEST_F(Adapter, MethodTableNamesCountsAndDefaults) {
    auto& component = host.component();
    ASSERT_EQ(component.getNMethods(), 14);
    for (long i = 0; i < 14; ++i) {
        const MethodRow& row = kMethods[i];
        SCOPED_TRACE(TestHost::toUtf8(row.english));
        EXPECT_EQ(host.methodName(i, 0), std::u16string(row.english));
        EXPECT_EQ(host.methodName(i, 1), std::u16string(row.russian));
        EXPECT_EQ(host.methodName(i, 7), std::u16string(row.russian));
        EXPECT_EQ(component.getNParams(i), row.params);
        EXPECT_TRUE(component.hasRetVal(i));
        EXPECT_FALSE(component.callAsProc(i, nullptr, 0));
        // No method has optional parameters: every default is "empty".
        for (long p = 0; p < row.params; ++p) {
            Abi::Record value{};
            value.type = Abi::Int32;
            EXPECT_TRUE(component.getParamDefValue(i, p, &value));
            EXPECT_EQ(value.type, Abi::Empty);
        }
    }
    for (long outside : {14L, -1L, 1000L}) {
        Abi::Record value{};
        EXPECT_FALSE(host.methodName(outside, 0));
        EXPECT_EQ(component.getNParams(outside), 0);
        EXPECT_FALSE(component.getParamDefValue(outside, 0, &value));
    }
}

TEST_F(Adapter, FindMethodByEitherNameWithAsciiCaseFolding) {
    const struct {
        const char16_t* name;
        long expected;
    } cases[] = {
        {u"GetVersion", 0},
        {u"getversion", 0},
        {u"GETVERSION", 0},
        {u"ПолучитьНомерВерсии", 0},
        {u"получитьномерверсии", -1},  // Cyrillic letters compare exactly
        {u"ПОЛУЧИТЬНОМЕРВЕРСИИ", -1},
        {u"ПолучитьОшибку", 13},
        {u"getlasterror", 13},
        {u"SaveDataTagRFID", 12},
        {u"ЗаписатьДанныеВМеткуrfid", 12},  // the ASCII part of a Russian name folds
        {u"Open", 4},
        {u"OPEN ", -1},
        {u"GetVersio", -1},
        {u"GetVersionX", -1},
        {u"Unknown", -1},
        {u"", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TestHost::toUtf8(c.name));
        EXPECT_EQ(host.findMethod(std::u16string(c.name)), c.expected);
    }
    EXPECT_EQ(host.component().findMethod(nullptr), -1);
}

TEST_F(Adapter, CallWithWrongNumberOrArgumentCountIsRefusedSilently) {
    EXPECT_FALSE(host.call("Open", {Value(), Value()}).ok);
    EXPECT_FALSE(host.call("GetVersion", {Value()}).ok);
    EXPECT_FALSE(host.call("GetDescription", std::vector<Value>(6)).ok);
    EXPECT_FALSE(host.call(14L).ok);
    EXPECT_FALSE(host.call(-1L).ok);
    EXPECT_TRUE(host.connection().errors().empty());
    EXPECT_EQ(lastError(), std::make_pair(0, std::u16string()));
}

TEST_F(Adapter, ArgumentTypeCodes) {
    // GetLastError replaces its argument whatever it held, so it shows which
    // type codes the adapter takes in.
    const std::vector<std::uint16_t> accepted = {Abi::Empty, Abi::Int16, Abi::Int32, Abi::Float, Abi::Double,
                                                 Abi::Error, Abi::Bool, Abi::UInt8, Abi::WideString};
    char16_t text[] = u"abc";
    char bytes[] = "abc";
    for (std::uint16_t type = 0; type <= 30; ++type) {
        SCOPED_TRACE("type code " + std::to_string(type));
        Abi::Record record{};
        record.type = type;
        if (type == Abi::WideString) {
            record.wide.text = text;
            record.wide.length = 3;
        } else if (type == Abi::NarrowString || type == Abi::Blob) {
            record.narrow.text = bytes;
            record.narrow.length = 3;
        }
        host.connection().clearErrors();
        const auto call = host.call("GetLastError", {Value::raw(record)});
        const bool takes = std::find(accepted.begin(), accepted.end(), type) != accepted.end();
        EXPECT_EQ(call.ok, takes);
        if (takes) {
            EXPECT_EQ(call.args.at(0), Value(u""));
            EXPECT_TRUE(host.connection().errors().empty());
        } else {
            const auto errors = host.connection().errors();
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].code, 1005);
            EXPECT_EQ(errors[0].source, u"Tarvel60x");
            EXPECT_EQ(errors[0].description, u"<unsupported variant type>");
            EXPECT_EQ(errors[0].scode, 111);
            EXPECT_EQ(call.args.at(0).type(), type) << "a refused argument stays as the host gave it";
            EXPECT_EQ(lastError(), std::make_pair(111, std::u16string(u"<unsupported variant type>")));
        }
    }
}

TEST_F(Adapter, WideStringWithoutTextIsTakenOnlyWhenEmpty) {
    Abi::Record record{};
    record.type = Abi::WideString;
    record.wide.text = nullptr;
    record.wide.length = 0;
    EXPECT_TRUE(host.call("GetLastError", {Value::raw(record)}).ok);
    EXPECT_TRUE(host.connection().errors().empty());

    record.wide.length = 5;
    EXPECT_FALSE(host.call("GetLastError", {Value::raw(record)}).ok);
    ASSERT_EQ(host.connection().errors().size(), 1u);
    EXPECT_EQ(host.connection().errors()[0].code, 1005);
    EXPECT_EQ(lastError().first, 111);
}

TEST_F(Adapter, BadCastIsReportedAndKeptForGetLastError) {
    // A number where SetParameter expects the parameter's name.
    const auto call = host.call("SetParameter", {Value(5), Value(u"x")});
    EXPECT_FALSE(call.ok);
    const auto errors = host.connection().errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, 1005);
    EXPECT_EQ(errors[0].source, u"Tarvel60x");
    EXPECT_EQ(errors[0].description, u"<bad cast>");
    EXPECT_EQ(errors[0].scode, 111);

    EXPECT_EQ(lastError(), std::make_pair(111, std::u16string(u"<bad cast>")));
    EXPECT_EQ(lastError(), std::make_pair(0, std::u16string()));
    EXPECT_EQ(host.connection().errors().size(), 1u) << "an orderly call reports nothing";
}

TEST_F(Adapter, VersionAndDescription) {
    const auto version = host.call(u"ПолучитьНомерВерсии");
    ASSERT_TRUE(version.ok);
    EXPECT_EQ(version.result, Value(u"1.0.0.12"));

    // The outputs are written whatever the host passes in.
    const auto description =
        host.call("GetDescription", {Value(), Value(7), Value(u"old"), Value(true), Value(2.5), Value(), Value()});
    ASSERT_TRUE(description.ok);
    EXPECT_EQ(description.result, Value(true));
    const std::vector<Value> expected = {
        Value(u"Tarvel60x"),
        Value(u"Драйвер для подключения RFID считывателей Tarvel серии 60x"),
        Value(u"СчитывательRFID"),
        Value(1006),
        Value(false),
        Value(false),
        description.args.at(6),
    };
    EXPECT_EQ(description.args, expected);
    ASSERT_EQ(description.args[6].type(), Abi::WideString);
    EXPECT_FALSE(description.args[6].text().empty());
}

TEST_F(Adapter, DriverMethodClearsAnEarlierError) {
    host.call("SetParameter", {Value(5), Value(5)});
    ASSERT_TRUE(host.call("GetVersion").ok);
    EXPECT_EQ(lastError(), std::make_pair(0, std::u16string()));
}

TEST_F(Adapter, NamesAndResultsNeedHostMemory) {
    host.memory().failNextAllocations(1);
    EXPECT_FALSE(host.methodName(0, 0));

    // A string result that cannot be handed over fails the call with the
    // allocation's message; the result record stays as it was.
    host.memory().failNextAllocations(1);
    const auto version = host.call("GetVersion");
    EXPECT_FALSE(version.ok);
    EXPECT_TRUE(version.result.isEmpty());
    ASSERT_EQ(host.connection().errors().size(), 1u);
    EXPECT_EQ(host.connection().errors()[0].description, u"std::bad_alloc");
    EXPECT_EQ(lastError().first, 111);
}
