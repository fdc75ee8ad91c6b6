// The Bluetooth readers of the last search as the parameter table offers
// them: value "address|channel", text the reader's name, in search order,
// with the markup characters of names that come from remote devices escaped
// so that the document stays well-formed; a search replaces the list even
// when it fails.
#include <gtest/gtest.h>

#include <string>

#include "driver/tarvel60x.h"

using AddIn1C::Variant;
using AddIn1C::VariantParameters;

namespace {

std::wstring btDeviceChoices(Tarvel60x& driver) {
    VariantParameters params;
    params.add(Variant());
    EXPECT_TRUE(driver.GetParameters(params).getValue<bool>());
    const std::wstring xml = params[0].value.getValue<std::wstring>();
    const std::size_t parameter = xml.find(L"<Parameter Name=\"BTDevice\"");
    const std::size_t begin = xml.find(L"<ChoiceList>\n", parameter);
    const std::size_t end = xml.find(L"</ChoiceList>\n", begin);
    if (parameter == std::wstring::npos || begin == std::wstring::npos || end == std::wstring::npos)
        return L"<no BTDevice choice list>";
    return xml.substr(begin, end + 14 - begin);
}

TEST(FoundReaders, OfferedInSearchOrderWithNamesEscaped) {
    Tarvel60xGlobals::foundBluetoothDevices = {
        {"00:11:22:33:44:55", "T60 A", 1},
        {"66:77:88:99:AA:BB", "T60 <R&D> \"lab\" 'x'", 3},
        {"CC:DD:EE:FF:00:11", "T60", -1},
    };
    Tarvel60x driver;
    EXPECT_EQ(L"<ChoiceList>\n"
              L"<Item Value=\"00:11:22:33:44:55|1\">T60 A</Item>\n"
              L"<Item Value=\"66:77:88:99:AA:BB|3\">T60 &lt;R&amp;D&gt; &quot;lab&quot; &apos;x&apos;</Item>\n"
              L"<Item Value=\"CC:DD:EE:FF:00:11|-1\">T60</Item>\n"
              L"</ChoiceList>\n",
              btDeviceChoices(driver));

    // An empty list offers the placeholder item, its fixed text unchanged.
    Tarvel60xGlobals::foundBluetoothDevices.clear();
    EXPECT_EQ(L"<ChoiceList>\n"
              L"<Item Value=\"NO_DEVICE\">Нет устройств (Функции -> Поиск устройств Bluetooth)</Item>\n"
              L"</ChoiceList>\n",
              btDeviceChoices(driver));
}

TEST(FoundReaders, FailedSearchEmptiesTheListOfTheSearchBefore) {
    Tarvel60xGlobals::foundBluetoothDevices = {{"00:11:22:33:44:55", "T60 A", 1}};
    Tarvel60x driver;
    VariantParameters setting;
    setting.add(Variant(L"ConnectionType"));
    setting.add(Variant(1L));
    ASSERT_TRUE(driver.SetParameter(setting).getValue<bool>());

    VariantParameters action;
    action.add(Variant(L"ScanBluetooth"));
    if (driver.DoAdditionalAction(action).getValue<bool>())
        GTEST_SKIP() << "this machine has a Bluetooth adapter";
    EXPECT_TRUE(Tarvel60xGlobals::foundBluetoothDevices.empty());
    // GetLastError, called through the method table as the host calls it.
    VariantParameters error;
    error.add(Variant());
    const auto& getLastError = Tarvel60x::metadata().functions.back();
    ASSERT_EQ(AddIn1C::convertWStringToPlatform(L"GetLastError"), getLastError.englishName);
    EXPECT_EQ(706L, (driver.*getLastError.method)(error).getValue<long>());
    EXPECT_EQ(std::wstring(L"Ошибка инициализации порта соединения"), error[0].value.getValue<std::wstring>());
}

}  // namespace
