// Tarvel60x additional actions: the list the host shows as commands of its
// settings form, and ScanBluetooth, ResetSetting and SendSerial themselves.
#include <memory>
#include <string>
#include <vector>

#include "bluetooth/bluetooth_spp.h"
#include "device/device.h"
#include "driver/errors.h"
#include "driver/tarvel60x.h"
#include "support/debug_logger.h"
#include "support/string_convert.h"

using AddIn1C::Variant;
using AddIn1C::VariantParameters;
using DebugLoggerNameSpace::DebugLogger;

namespace {

// The 3610 receiver takes a serial number of exactly this many characters.
const std::size_t kReceiverSerialLength = 9;

// Only readers whose names start with this prefix are offered to the host.
const char kReaderNamePrefix[] = "T60";

}  // namespace

Variant Tarvel60x::GetAdditionalActions(VariantParameters& params) {
    DebugLogger log("GetAdditionalActions");
    clearError();

    // The receiver's serial number action is carried out when named but not
    // offered on this platform.
    std::wstring xml = L"<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";
    xml += L"<Actions>\n";
    xml += L"\t<Action Name=\"ScanBluetooth\" Caption=\"Поиск устройств Bluetooth\"/>";
    xml += L"\t<Action Name=\"ResetSetting\" Caption=\"Сброс настроек сканера по умолчанию\"/>";
    xml += L"</Actions>\n";
    params[0].value = Variant(xml);
    return Variant(true);
}

Variant Tarvel60x::DoAdditionalAction(VariantParameters& params) {
    DebugLogger log("DoAdditionalAction");
    clearError();

    // Without any setting from the host there is nothing to act on.
    if (!parametersSet)
        return Variant(false);

    const std::string action = StringConvert::UnicodeToAnsi(params[0].value.getValue<std::wstring>());
    log.message(' ', "Action: %s", action.c_str());

    bool result = false;
    if (action == "SendSerial") {
        if (bt3610Serial.size() != kReceiverSerialLength) {
            setError(Errors::Bad3610SerialLength, Errors::text(Errors::Bad3610SerialLength));
        } else {
            std::unique_ptr<Device> receiver(new Device());
            receiver->setConnectionType(0);
            receiver->setPort(bt3610Port, 5);
            if (receiver->openPort()) {
                result = receiver->set3610Target(bt3610Serial) && receiver->enable3610();
                receiver->closePort();
            }
        }
    } else if (action == "ResetSetting") {
        std::unique_ptr<Device> reader(prepareDevice());
        if (reader->openPort()) {
            if (reader->factoryReset()) {
                // The beep only lets the operator hear that the reset took.
                reader->testBeep();
                result = true;
            }
            reader->closePort();
        }
    } else if (action == "ScanBluetooth") {
        Tarvel60xGlobals::foundBluetoothDevices.clear();
        std::vector<BTDeviceInfo> found;
        switch (BluetoothSPP::find(found)) {
        case BluetoothSPP::Ok:
            result = true;
            break;
        case BluetoothSPP::NoAdapter:
            setError(Errors::BluetoothAdapterNotFound, Errors::text(Errors::BluetoothAdapterNotFound));
            break;
        case BluetoothSPP::NoAnswer:
            setError(Errors::BluetoothDeviceNotFound, Errors::text(Errors::BluetoothDeviceNotFound));
            break;
        case BluetoothSPP::SetupFailed:
            setError(Errors::BluetoothPortInitFailed, Errors::text(Errors::BluetoothPortInitFailed));
            break;
        default:
            setError(Errors::BluetoothConnectFailed, Errors::text(Errors::BluetoothConnectFailed));
            break;
        }
        // Whatever the outcome, the devices reported so far are sifted.
        for (const BTDeviceInfo& device : found) {
            log.message(' ', "Found [%s]", device.name.c_str());
            if (device.name.compare(0, 3, kReaderNamePrefix) == 0) {
                log.message(' ', "Add to list");
                Tarvel60xGlobals::foundBluetoothDevices.push_back(device);
            }
        }
    }
    return Variant(result);
}
