// Tarvel60x settings: GetParameters writes the parameter table from which the
// host builds its settings form; SetParameter stores the values chosen there.
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "driver/table_parameters.h"
#include "driver/tarvel60x.h"
#include "serial/serial_port.h"
#include "support/debug_logger.h"
#include "support/string_convert.h"

using AddIn1C::Variant;
using AddIn1C::VariantParameters;
using DebugLoggerNameSpace::DebugLogger;

namespace {

// Text that comes from outside the driver (port names, Bluetooth addresses and
// the names remote devices report) is escaped where it enters the document, so
// that a name holding a markup character cannot make the table malformed.
std::wstring escapeXml(const std::wstring& text) {
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'&':
            result += L"&amp;";
            break;
        case L'<':
            result += L"&lt;";
            break;
        case L'>':
            result += L"&gt;";
            break;
        case L'"':
            result += L"&quot;";
            break;
        case L'\'':
            result += L"&apos;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

// Outside text as the document carries it: converted in the process locale
// (text that does not convert becomes empty), then escaped.
std::wstring outsideText(const std::string& text) {
    return escapeXml(StringConvert::AnsiToUnicode(text));
}

// The tokens of a BTDevice value: the pieces between "|", empty ones dropped.
std::vector<std::string> splitBar(const std::string& text) {
    std::vector<std::string> tokens;
    std::string::size_type start = 0;
    while (start <= text.size()) {
        std::string::size_type end = text.find('|', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            tokens.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return tokens;
}

// A channel token read as a decimal int by stream extraction: leading blanks
// skipped, reading stops at the first non-digit, no number gives 0 (also for
// a token of blanks only), and a number out of range gives the nearest limit.
std::int32_t channelFromToken(const std::string& token) {
    int channel = 0;
    std::istringstream stream(token);
    stream >> channel;
    return channel;
}

}  // namespace

Variant Tarvel60x::GetParameters(VariantParameters& params) {
    DebugLogger log("GetParameters");
    clearError();

    std::vector<std::wstring> ports;
    for (const Serial::PortInfo& info : Serial::GetPortsList()) {
        ports.push_back(outsideText(info.port));
        log.message(' ', "Found serial port: %s", info.port.c_str());
    }

    TableParameters table;
    table.beginSettings();

    table.beginPage(L"Параметры");

    table.beginGroup(L"Соединение:");
    table.beginParameter(L"ConnectionType", L"Тип соединения", TableParameters::Number, L"0");
    table.beginChoiceList();
    table.choiceListItem(L"0", L"Кабель USB-VCOM");
    table.choiceListItem(L"1", L"Bluetooth");
    table.endChoiceList();
    table.endParameter();
    table.endGroup();

    // The letters of "СОМ" in this caption are Cyrillic.
    table.beginGroup(L"Параметры \u0421\u041E\u041C-порта:");
    table.beginParameter(L"SerialPort", L"Порт", TableParameters::String, L"");
    table.beginChoiceList();
    for (const std::wstring& port : ports)
        table.choiceListItem(port, port);
    table.endChoiceList();
    table.endParameter();
    table.endGroup();

    table.beginGroup(L"Параметры Bluetooth:");
    table.beginParameter(L"BTDevice", L"Устройство", TableParameters::String, L"NO_DEVICE");
    table.beginChoiceList();
    if (Tarvel60xGlobals::foundBluetoothDevices.empty()) {
        table.choiceListItem(L"NO_DEVICE", L"Нет устройств (Функции -> Поиск устройств Bluetooth)");
    } else {
        for (const BTDeviceInfo& device : Tarvel60xGlobals::foundBluetoothDevices) {
            table.choiceListItem(outsideText(device.address) + L"|" + std::to_wstring(device.channel),
                                 outsideText(device.name));
        }
    }
    table.endChoiceList();
    table.endParameter();
    table.endGroup();

    table.endPage();

    table.beginPage(L"Настройки");

    table.beginGroup(L"Звук");
    table.beginParameter(L"BZVolume", L"Уровень громкости", TableParameters::Number, L"3");
    table.beginChoiceList();
    table.choiceListItem(L"0", L"Без звука");
    table.choiceListItem(L"1", L"Тихий");
    table.choiceListItem(L"2", L"Нормальный");
    table.choiceListItem(L"3", L"Громкий (по умолчанию)");
    table.endChoiceList();
    table.endParameter();
    table.simpleParameter(L"BZAlarm", L"Сигнал при низком заряде батареи", TableParameters::Boolean,
                          L"true");
    table.simpleParameter(L"BZGoodReadBeep", L"Сигнал при успешном чтении", TableParameters::Boolean,
                          L"true");
    table.endGroup();

    table.beginGroup(L"Настройка сигнала при успешном чтении");
    table.beginParameter(L"BZGoodReadBeepFreq", L"Частота", TableParameters::Number, L"1");
    table.beginChoiceList();
    table.choiceListItem(L"0", L"8 кГц");
    table.choiceListItem(L"1", L"4 кГц (по умолчанию)");
    table.choiceListItem(L"2", L"2 кГц");
    table.choiceListItem(L"3", L"1 кГц");
    table.endChoiceList();
    table.endParameter();
    table.beginParameter(L"BZGoodReadBeepDuration", L"Продолжительность", TableParameters::Number, L"0");
    table.beginChoiceList();
    table.choiceListItem(L"0", L"Самый короткий (по умолчанию)");
    table.choiceListItem(L"1", L"Короткий");
    table.choiceListItem(L"2", L"Длинный");
    table.choiceListItem(L"3", L"Самый длинный");
    table.endChoiceList();
    table.endParameter();
    table.endGroup();

    table.beginGroup(L"Вибро");
    table.simpleParameter(L"VibroEnabled", L"Вибрация при успешном чтении", TableParameters::Boolean,
                          L"false");
    // The caption is the one the host's forms already show, spelling included.
    table.beginParameter(L"VibroDuration", L"Длителность вибрации", TableParameters::Number, L"10");
    table.beginChoiceList();
    for (int tenths = 1; tenths <= 9; ++tenths)
        table.choiceListItem(std::to_wstring(tenths), std::to_wstring(tenths * 100) + L" мс");
    table.choiceListItem(L"10", L"1 сек (по умолчанию)");
    table.endChoiceList();
    table.endParameter();
    table.endGroup();

    table.endPage();
    table.endSettings();

    params[0].value = Variant(table.getXml());
    return Variant(true);
}

Variant Tarvel60x::SetParameter(VariantParameters& params) {
    DebugLogger log("SetParameter");
    clearError();

    const std::string name = StringConvert::UnicodeToAnsi(params[0].value.getValue<std::wstring>());
    log.message(' ', "Param name: [%s]", name.c_str());
    parametersSet = true;

    Variant& value = params[1].value;
    if (name == "EquipmentType") {
        // Fixed by the driver: nothing to store.
    } else if (name == "ConnectionType") {
        connectionType = value.getValue<long>();
    } else if (name == "SerialPort") {
        serialPort = StringConvert::UnicodeToAnsi(value.getValue<std::wstring>());
    } else if (name == "BTDevice") {
        // "address|channel", or the address alone on the default channel 5;
        // any other shape leaves both fields as they are.
        const std::vector<std::string> tokens =
            splitBar(StringConvert::UnicodeToAnsi(value.getValue<std::wstring>()));
        if (tokens.size() == 2) {
            btAddress = tokens[0];
            btChannel = channelFromToken(tokens[1]);
        } else if (tokens.size() == 1) {
            btAddress = tokens[0];
            btChannel = 5;
        }
    } else if (name == "BT3610Serial") {
        bt3610Serial = StringConvert::UnicodeToAnsi(value.getValue<std::wstring>());
        for (char& c : bt3610Serial)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else if (name == "BT3610Port") {
        bt3610Port = StringConvert::UnicodeToAnsi(value.getValue<std::wstring>());
    } else if (name == "BZVolume") {
        bzVolume = value.getValue<long>();
    } else if (name == "BZAlarm") {
        bzAlarm = value.getValue<bool>();
    } else if (name == "BZGoodReadBeep") {
        bzGoodReadBeep = value.getValue<bool>();
    } else if (name == "BZGoodReadBeepFreq") {
        goodReadFreq = value.getValue<long>();
    } else if (name == "BZGoodReadBeepDuration") {
        goodReadDuration = value.getValue<long>();
    } else if (name == "VibroEnabled") {
        vibroEnabled = value.getValue<bool>();
    } else if (name == "VibroDuration") {
        vibroDuration = value.getValue<long>();
    } else {
        log.message('!', "Unknown param \"%s\"", name.c_str());
    }
    return Variant(true);
}
