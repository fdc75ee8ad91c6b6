// The component adapter with a small component class linked in, driven
// through the test host's slot calls: result types the driver's methods do
// not produce, replaced arguments, exceptions, properties, optional
// parameters, external events and the error state under concurrent writers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "addin/add_in_object.h"
#include "host/test_host.h"

using AddIn1C::BinaryData;
using AddIn1C::Variant;
using AddIn1C::VariantParameters;
using TestHost::Value;
namespace Abi = TestHost::Abi;

namespace {

class Probe : public AddIn1C::AddInObject<Probe> {
public:
    static constexpr const wchar_t* kClassName = L"Probe";

    static void getMetadata(AddIn1C::ClassMetadata<Probe>& metadata) {
        metadata.addFunction(L"Give", L"Дать", 1, &Probe::Give);
        metadata.addFunction(L"Echo", L"Эхо", 1, &Probe::Echo);
        metadata.addFunction(L"ReplaceTwice", L"ЗаменитьДважды", 1, &Probe::ReplaceTwice);
        metadata.addFunction(L"Throw", L"Бросить", 1, &Probe::Throw);
        metadata.addFunction(L"Optional", L"Необязательные", 3, &Probe::Echo, 2);
        metadata.addFunction(L"WriteThenGive", L"ЗаписатьИДать", 1, &Probe::WriteThenGive);
        metadata.addProperty(L"Value", L"Значение", 3, &Probe::getStored, &Probe::setStored);
        metadata.addProperty(L"ReadOnly", L"ТолькоЧтение", 1, &Probe::getStored, nullptr);
    }

    // One value of each kind, chosen by the argument.
    Variant Give(VariantParameters& params) {
        switch (params[0].value.getValue<long>()) {
        case 0: return Variant(AddIn1C::Undefined());
        case 1: return Variant(true);
        case 2: return Variant((1L << 32) + 5);
        case 3: return Variant(-7L);
        case 4: return Variant(2.5);
        case 5: return Variant(std::wstring(L"A\U0001F600Я"));
        case 6: return Variant(std::wstring());
        case 7: return Variant(std::string("ab\0c", 4));
        case 8: return Variant(BinaryData("\x00\xFF\x10", 3));
        default: return Variant();
        }
    }
    Variant Echo(VariantParameters& params) { return params[0].value; }
    Variant ReplaceTwice(VariantParameters& params) {
        params[0].value = Variant(L"first");
        params[0].value = Variant(L"second");
        return Variant(true);
    }
    Variant Throw(VariantParameters& params) {
        switch (params[0].value.getValue<long>()) {
        case 0: throw std::wstring(L"Сбой");
        case 1: throw std::runtime_error("boom");
        case 2: throw 42;
        default: return Variant(params[0].value.getValue<bool>());
        }
    }
    Variant WriteThenGive(VariantParameters& params) {
        params[0].value = Variant(L"written");
        return Variant(L"result");
    }
    Variant getStored() { return stored; }
    void setStored(const Variant& value) { stored = value; }

    Variant stored = Variant(0);
};

class ComponentAdapter : public ::testing::Test {
protected:
    void TearDown() override {
        host.stop();
        const auto memory = host.memory().report();
        EXPECT_EQ(memory.liveBlocks, 0u);
        EXPECT_EQ(memory.foreignFrees, 0u);
        EXPECT_EQ(memory.foreignBlocks, 0u);
    }

    Probe probe;
    TestHost::Host host{TestHost::Host::Attach{}, static_cast<AddIn1C::IComponentBase*>(&probe)};
};

Value narrowValue(const char* bytes, std::size_t size) { return Value::narrow(std::string(bytes, size)); }

}  // namespace

TEST_F(ComponentAdapter, ResultsOfEveryKind) {
    Value blob = Value::fromRecord([] {
        static char bytes[] = "\x00\xFF\x10";
        Abi::Record record{};
        record.type = Abi::Blob;
        record.narrow.text = bytes;
        record.narrow.length = 3;
        return record;
    }());
    const struct {
        std::int32_t selector;
        Value expected;
    } cases[] = {
        {0, Value()},
        {1, Value(true)},
        {2, Value(5)},  // 2^32 + 5 keeps its low 32 bits
        {3, Value(-7)},
        {4, Value(2.5)},
        {5, Value(u"A\uF600Я")},  // above U+FFFF: the low 16 bits, no surrogate pair
        {6, Value(u"")},
        {7, narrowValue("ab\0c", 4)},
        {8, blob},
        {9, Value()},  // no content: the result record is left alone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        const auto call = host.call("Give", {Value(c.selector)});
        ASSERT_TRUE(call.ok);
        EXPECT_EQ(call.result, c.expected);
    }
}

TEST_F(ComponentAdapter, StringBuffersCarryTheirTerminator) {
    const struct {
        std::int32_t selector;
        std::uint16_t type;
        std::size_t bytes;
    } cases[] = {{5, Abi::WideString, 8}, {6, Abi::WideString, 2}, {7, Abi::NarrowString, 5}, {8, Abi::Blob, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        Abi::Record argument{};
        argument.type = Abi::Int32;
        argument.i32 = c.selector;
        Abi::Record result{};
        ASSERT_TRUE(host.component().callAsFunc(0, &result, &argument, 1));
        ASSERT_EQ(result.type, c.type);
        EXPECT_EQ(host.memory().report().liveBytes, c.bytes);
        if (c.type == Abi::WideString) {
            EXPECT_EQ(result.wide.length, c.bytes / 2 - 1);
            EXPECT_EQ(result.wide.text[result.wide.length], 0);
            host.memory().release(result.wide.text);
        } else {
            EXPECT_EQ(result.narrow.length, c.bytes - 1);
            EXPECT_EQ(result.narrow.text[result.narrow.length], 0);
            host.memory().release(result.narrow.text);
        }
    }
}

TEST_F(ComponentAdapter, ArgumentsAsTheMethodReadsThem) {
    Abi::Record int16{};
    int16.type = Abi::Int16;
    int16.i16 = -3;
    Abi::Record byte{};
    byte.type = Abi::UInt8;
    byte.u8 = 200;
    Abi::Record single{};
    single.type = Abi::Float;
    single.f32 = 1.5f;
    Abi::Record error{};
    error.type = Abi::Error;
    Abi::Record looseBool{};
    looseBool.type = Abi::Bool;
    looseBool.u8 = 2;
    const struct {
        Value in;
        Value out;
    } cases[] = {
        {Value::raw(int16), Value(-3)},  // sign-extended
        {Value::raw(byte), Value(200)},  // zero-extended
        {Value(-2147483647 - 1), Value(-2147483647 - 1)},
        {Value::raw(single), Value(1.5)},
        {Value(0.25), Value(0.25)},
        {Value(true), Value(true)},
        {Value::raw(looseBool), Value(true)},  // any non-zero byte is true
        {Value(), Value()},
        {Value::raw(error), Value()},
        {Value(u"Юг"), Value(u"Юг")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        const auto call = host.call("Echo", {c.in});
        ASSERT_TRUE(call.ok);
        EXPECT_EQ(call.result, c.out);
        EXPECT_EQ(call.args.at(0), c.in) << "an argument the method did not replace stays as it was";
    }
}

TEST_F(ComponentAdapter, ReplacedArgumentGoesBackEvenAtTheOldAddress) {
    // The second replacement may be allocated where the entry value lived.
    for (int i = 0; i < 3; ++i) {
        const auto call = host.call("ReplaceTwice", {Value(u"entry value")});
        ASSERT_TRUE(call.ok);
        EXPECT_EQ(call.args.at(0), Value(u"second"));
    }
}

TEST_F(ComponentAdapter, ExceptionsBecomeHostMessagesAndTheErrorState) {
    const struct {
        Value argument;
        std::u16string text;
    } cases[] = {
        {Value(0), u"Сбой"},
        {Value(1), u"boom"},
        {Value(2), u"<unknown error>"},
        {Value(3), u"<bad cast>"},
        {Value(u"3"), u"<bad cast>"},  // no conversion from text
        {Value(3.0), u"<bad cast>"},   // nor from a double
        {Value(), u"<bad cast>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TestHost::toUtf8(c.text));
        host.connection().clearErrors();
        EXPECT_FALSE(host.call("Throw", {c.argument}).ok);
        const auto errors = host.connection().errors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, 1005);
        EXPECT_EQ(errors[0].source, u"Probe");
        EXPECT_EQ(errors[0].description, c.text);
        EXPECT_EQ(errors[0].scode, 111);
        const auto last = host.call("GetLastError", {Value()});
        EXPECT_EQ(last.result, Value(111));
        EXPECT_EQ(last.args.at(0), Value(c.text));
    }
}

TEST_F(ComponentAdapter, WrittenArgumentStaysWhenTheResultCannotBeHandedOver) {
    host.memory().failNextAllocations(1, 1);
    const auto call = host.call("WriteThenGive", {Value()});
    EXPECT_FALSE(call.ok);
    EXPECT_EQ(call.args.at(0), Value(u"written"));
    EXPECT_TRUE(call.result.isEmpty());
}

TEST_F(ComponentAdapter, PropertiesAndOptionalParameters) {
    auto& component = host.component();
    EXPECT_EQ(component.getNProps(), 2);
    EXPECT_EQ(component.findProp(u"value"), 0);
    EXPECT_EQ(component.findProp(u"Значение"), 0);
    EXPECT_EQ(component.findProp(u"значение"), -1);
    EXPECT_EQ(component.findProp(u"READONLY"), 1);
    EXPECT_TRUE(component.isPropReadable(0) && component.isPropWritable(0));
    EXPECT_TRUE(component.isPropReadable(1));
    EXPECT_FALSE(component.isPropWritable(1));
    EXPECT_FALSE(component.isPropReadable(2) || component.isPropReadable(-1));

    const char16_t* name = component.getPropName(0, 1);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::u16string(name), u"Значение");
    host.memory().release(name);

    Abi::Record value{};
    value.type = Abi::Int32;
    value.i32 = 42;
    EXPECT_TRUE(component.setPropVal(0, &value));
    Abi::Record read{};
    EXPECT_TRUE(component.getPropVal(1, &read));
    EXPECT_EQ(Value::fromRecord(read), Value(42));
    EXPECT_FALSE(component.setPropVal(1, &value));
    EXPECT_FALSE(component.getPropVal(2, &read));
    value.type = Abi::Date;
    EXPECT_FALSE(component.setPropVal(0, &value));
    ASSERT_EQ(host.connection().errors().size(), 1u);
    EXPECT_EQ(host.connection().errors()[0].description, u"<unsupported variant type>");

    const long optional = host.findMethod("Optional");
    const std::uint16_t defaults[] = {Abi::Empty, Abi::Error, Abi::Error};
    for (long p = 0; p < 3; ++p) {
        Abi::Record def{};
        def.type = Abi::Bool;
        EXPECT_TRUE(component.getParamDefValue(optional, p, &def));
        EXPECT_EQ(def.type, defaults[p]) << "parameter " << p;
    }
}

TEST_F(ComponentAdapter, ExternalEvents) {
    Probe unconnected;
    EXPECT_FALSE(unconnected.sendExternalEvent(L"1", L"RFID", L"1")) << "before Init";

    EXPECT_TRUE(probe.sendExternalEvent(L"7", L"RFID", L"12\U0001F600"));
    auto event = host.connection().waitForEvent(std::chrono::seconds(5));
    ASSERT_TRUE(event);
    EXPECT_EQ(event->source, u"7");
    EXPECT_EQ(event->message, u"RFID");
    EXPECT_EQ(event->data, u"12\uF600");

    // A refusal is passed on; the next offer goes through.
    host.connection().refuseNextEvents(1);
    EXPECT_FALSE(probe.sendExternalEvent(L"7", L"RFID", L"13"));
    EXPECT_TRUE(probe.sendExternalEvent(L"7", L"RFID", L"13"));
    EXPECT_EQ(host.connection().refusedEvents(), 1u);

    // Without memory for the second text the event is not offered, and the
    // text already allocated is given back.
    host.memory().failNextAllocations(1, 1);
    EXPECT_FALSE(probe.sendExternalEvent(L"7", L"RFID", L"14"));
    EXPECT_EQ(host.connection().events().size(), 2u);
    EXPECT_EQ(host.memory().report().liveBlocks, 0u);
}

TEST_F(ComponentAdapter, ErrorStateStaysConsistentUnderConcurrentWriters) {
    // Reader threads record failures and send events while the host reads
    // GetLastError: every code must come with its own text.
    std::atomic<bool> stop{false};
    auto writer = [&](long code, const std::wstring& text) {
        while (!stop)
            probe.setError(code, text);
    };
    std::thread one(writer, 1L, std::wstring(L"один"));
    std::thread two(writer, 2L, std::wstring(200, L'д'));
    std::thread events([&] {
        while (!stop)
            probe.sendExternalEvent(L"1", L"RFID", L"1");
    });
    for (int i = 0; i < 2000; ++i) {
        const auto last = host.call("GetLastError", {Value()});
        ASSERT_TRUE(last.ok);
        const std::int32_t code = last.result.int32();
        const std::u16string& text = last.args.at(0).text();
        if (code == 0)
            EXPECT_EQ(text, u"");
        else if (code == 1)
            EXPECT_EQ(text, u"один");
        else
            EXPECT_EQ(text, std::u16string(200, u'д'));
    }
    stop = true;
    one.join();
    two.join();
    events.join();
}

TEST(Variant, ReadsOnlyTheHeldType) {
    EXPECT_TRUE(Variant(1).holds<long>());
    EXPECT_TRUE(Variant("x").holds<std::string>());
    EXPECT_TRUE(Variant(L"x").holds<std::wstring>());
    EXPECT_EQ(Variant().content(), nullptr);
    EXPECT_THROW(Variant().getValue<long>(), Variant::BadCast);
    EXPECT_THROW(Variant(1).getValue<double>(), Variant::BadCast);
    EXPECT_THROW(Variant(1).getValue<bool>(), Variant::BadCast);
    EXPECT_THROW(Variant(1.0).getValue<long>(), Variant::BadCast);
    EXPECT_THROW(Variant(L"1").getValue<long>(), Variant::BadCast);
    EXPECT_THROW(Variant(AddIn1C::Undefined()).getValue<long>(), Variant::BadCast);
    EXPECT_STREQ(Variant::BadCast().what(), "<bad cast>");

    Variant original(L"text");
    Variant copy(original);
    original = Variant(5);
    EXPECT_EQ(copy.getValue<std::wstring>(), L"text");
    EXPECT_EQ(original.getValue<long>(), 5);
}
