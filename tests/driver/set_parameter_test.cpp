// SetParameter on the driver object itself: every key lands in its field, the
// BTDevice value is split into address and channel, and values of the wrong
// type are refused without touching what earlier calls stored.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "driver/tarvel60x.h"

using AddIn1C::Variant;
using AddIn1C::VariantParameters;

// Reads the private settings of the driver object.
struct Tarvel60xTestAccess {
    static bool parametersSet(const Tarvel60x& d) { return d.parametersSet; }
    static const std::string& serialPort(const Tarvel60x& d) { return d.serialPort; }
    static const std::string& btAddress(const Tarvel60x& d) { return d.btAddress; }
    static std::int32_t btChannel(const Tarvel60x& d) { return d.btChannel; }
    static const std::string& bt3610Port(const Tarvel60x& d) { return d.bt3610Port; }
    static const std::string& bt3610Serial(const Tarvel60x& d) { return d.bt3610Serial; }
    static std::int64_t connectionType(const Tarvel60x& d) { return d.connectionType; }
    static std::int64_t bzVolume(const Tarvel60x& d) { return d.bzVolume; }
    static bool bzAlarm(const Tarvel60x& d) { return d.bzAlarm; }
    static bool bzGoodReadBeep(const Tarvel60x& d) { return d.bzGoodReadBeep; }
    static std::int64_t goodReadFreq(const Tarvel60x& d) { return d.goodReadFreq; }
    static std::int64_t goodReadDuration(const Tarvel60x& d) { return d.goodReadDuration; }
    static bool vibroEnabled(const Tarvel60x& d) { return d.vibroEnabled; }
    static std::int64_t vibroDuration(const Tarvel60x& d) { return d.vibroDuration; }
};

namespace {

using Access = Tarvel60xTestAccess;

bool set(Tarvel60x& driver, const std::wstring& name, Variant value) {
    VariantParameters params;
    params.add(Variant(name));
    params.add(std::move(value));
    return driver.SetParameter(params).getValue<bool>();
}

TEST(SetParameter, EveryKeyStoresItsValue) {
    struct Case {
        const wchar_t* name;
        Variant value;
        std::function<bool(const Tarvel60x&)> stored;
    };
    const Case cases[] = {
        {L"ConnectionType", Variant(2L), [](const Tarvel60x& d) { return Access::connectionType(d) == 2; }},
        // No range is enforced: the host's value is kept as it came.
        {L"ConnectionType", Variant(77L), [](const Tarvel60x& d) { return Access::connectionType(d) == 77; }},
        {L"SerialPort", Variant(L"/dev/ttyUSB3"), [](const Tarvel60x& d) { return Access::serialPort(d) == "/dev/ttyUSB3"; }},
        {L"BT3610Port", Variant(L"/dev/ttyS1"), [](const Tarvel60x& d) { return Access::bt3610Port(d) == "/dev/ttyS1"; }},
        {L"BT3610Serial", Variant(L"ab12cd34e"), [](const Tarvel60x& d) { return Access::bt3610Serial(d) == "AB12CD34E"; }},
        {L"BZVolume", Variant(1L), [](const Tarvel60x& d) { return Access::bzVolume(d) == 1; }},
        {L"BZAlarm", Variant(false), [](const Tarvel60x& d) { return !Access::bzAlarm(d); }},
        {L"BZGoodReadBeep", Variant(false), [](const Tarvel60x& d) { return !Access::bzGoodReadBeep(d); }},
        {L"BZGoodReadBeepFreq", Variant(3L), [](const Tarvel60x& d) { return Access::goodReadFreq(d) == 3; }},
        {L"BZGoodReadBeepDuration", Variant(2L), [](const Tarvel60x& d) { return Access::goodReadDuration(d) == 2; }},
        {L"VibroEnabled", Variant(true), [](const Tarvel60x& d) { return Access::vibroEnabled(d); }},
        {L"VibroDuration", Variant(4L), [](const Tarvel60x& d) { return Access::vibroDuration(d) == 4; }},
    };
    for (const Case& c : cases) {
        Tarvel60x driver;
        EXPECT_FALSE(Access::parametersSet(driver));
        EXPECT_TRUE(set(driver, c.name, c.value)) << c.name;
        EXPECT_TRUE(c.stored(driver)) << c.name;
        EXPECT_TRUE(Access::parametersSet(driver)) << c.name;
    }
}

TEST(SetParameter, NamesOutsideTheKeysAreAcceptedAndChangeNothingElse) {
    // Keys compare case-sensitively; EquipmentType is fixed and not even read.
    for (const wchar_t* name : {L"connectiontype", L"CONNECTIONTYPE", L"Speed", L"", L"EquipmentType"}) {
        Tarvel60x driver;
        EXPECT_TRUE(set(driver, name, Variant(1L))) << name;
        EXPECT_TRUE(Access::parametersSet(driver)) << name;
        EXPECT_EQ(0, Access::connectionType(driver)) << name;
        EXPECT_EQ(3, Access::bzVolume(driver)) << name;
    }
}

TEST(SetParameter, BTDeviceSplitsIntoAddressAndChannel) {
    struct Case {
        const wchar_t* value;
        const char* address;
        std::int32_t channel;
    };
    const Case cases[] = {
        {L"00:11:22:33:44:55|3", "00:11:22:33:44:55", 3},
        {L"00:11:22:33:44:55", "00:11:22:33:44:55", 5},
        {L"NO_DEVICE", "NO_DEVICE", 5},
        // Empty tokens from leading, trailing and doubled bars are dropped.
        {L"|AA:BB||7|", "AA:BB", 7},
        {L"AA:BB| 12x", "AA:BB", 12},
        {L"AA:BB|x12", "AA:BB", 0},
        {L"AA:BB|   ", "AA:BB", 0},
        {L"AA:BB|99999999999", "AA:BB", INT_MAX},
        {L"AA:BB|-99999999999", "AA:BB", INT_MIN},
        // No token, or three and more, leaves both fields as they were.
        {L"", "PREVIOUS", 9},
        {L"||", "PREVIOUS", 9},
        {L"AA|1|2", "PREVIOUS", 9},
    };
    for (const Case& c : cases) {
        Tarvel60x driver;
        ASSERT_TRUE(set(driver, L"BTDevice", Variant(L"PREVIOUS|9")));
        EXPECT_TRUE(set(driver, L"BTDevice", Variant(c.value))) << c.value;
        EXPECT_EQ(c.address, Access::btAddress(driver)) << c.value;
        EXPECT_EQ(c.channel, Access::btChannel(driver)) << c.value;
    }
}

TEST(SetParameter, WrongValueTypeIsRefusedAndEarlierValuesStay) {
    struct Case {
        const wchar_t* name;
        Variant value;
    };
    const Case cases[] = {
        {L"BZAlarm", Variant(1L)},            // a number is not a bool
        {L"ConnectionType", Variant(1.0)},    // a double is not a long
        {L"ConnectionType", Variant(L"1")},   // a string is not parsed
        {L"SerialPort", Variant(5L)},
        {L"VibroEnabled", Variant()},         // nothing at all
    };
    for (const Case& c : cases) {
        Tarvel60x driver;
        ASSERT_TRUE(set(driver, L"BZAlarm", Variant(false)));
        ASSERT_TRUE(set(driver, L"ConnectionType", Variant(1L)));
        ASSERT_TRUE(set(driver, L"SerialPort", Variant(L"/dev/ttyS0")));
        EXPECT_THROW(set(driver, c.name, c.value), Variant::BadCast) << c.name;
        EXPECT_FALSE(Access::bzAlarm(driver)) << c.name;
        EXPECT_EQ(1, Access::connectionType(driver)) << c.name;
        EXPECT_EQ("/dev/ttyS0", Access::serialPort(driver)) << c.name;
    }
    // A name that is not a string fails before anything is marked as set.
    Tarvel60x driver;
    VariantParameters params;
    params.add(Variant(1L));
    params.add(Variant(1L));
    EXPECT_THROW(driver.SetParameter(params), Variant::BadCast);
    EXPECT_FALSE(Access::parametersSet(driver));
}

}  // namespace
