// Tarvel60x: the equipment driver object that the host creates. Its settings,
// its registry of open readers and its host methods; the method bodies live in
// one source file per group (tarvel60x.cpp core, devices.cpp, settings.cpp,
// actions.cpp, rfid.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "addin/add_in_object.h"
#include "bluetooth/bluetooth_spp.h"

class Device;
namespace DebugLoggerNameSpace {
class DebugLogger;
}

class Tarvel60x : public AddIn1C::AddInObject<Tarvel60x> {
public:
    // The name under which the host creates the driver.
    static constexpr const wchar_t* kClassName = L"Tarvel60x";

    Tarvel60x();
    ~Tarvel60x();

    // The method table, numbers 0 to 12 (the adapter appends GetLastError as 13).
    static void getMetadata(AddIn1C::ClassMetadata<Tarvel60x>& metadata);

    // The driver object that the class registry holds, or null when the class
    // is not registered yet. Readers record failures and send events through it.
    static Tarvel60x* registeredInstance();

    // Host methods (tarvel60x.cpp).
    AddIn1C::Variant GetVersion(AddIn1C::VariantParameters& params);
    AddIn1C::Variant GetDescription(AddIn1C::VariantParameters& params);
    // settings.cpp
    AddIn1C::Variant GetParameters(AddIn1C::VariantParameters& params);
    AddIn1C::Variant SetParameter(AddIn1C::VariantParameters& params);
    // devices.cpp
    AddIn1C::Variant Open(AddIn1C::VariantParameters& params);
    AddIn1C::Variant Close(AddIn1C::VariantParameters& params);
    AddIn1C::Variant DeviceTest(AddIn1C::VariantParameters& params);
    // actions.cpp
    AddIn1C::Variant GetAdditionalActions(AddIn1C::VariantParameters& params);
    AddIn1C::Variant DoAdditionalAction(AddIn1C::VariantParameters& params);
    // rfid.cpp
    AddIn1C::Variant OpenSessionRFID(AddIn1C::VariantParameters& params);
    AddIn1C::Variant CloseSessionRFID(AddIn1C::VariantParameters& params);
    AddIn1C::Variant GetDataTagsRFID(AddIn1C::VariantParameters& params);
    AddIn1C::Variant SaveDataTagRFID(AddIn1C::VariantParameters& params);

private:
    friend struct Tarvel60xTestAccess;  // unit tests read the settings fields

    // A new reader object set up from the connection settings (Open,
    // DeviceTest, ResetSetting); the caller owns it.
    Device* prepareDevice() const;
    // Closes and destroys every open reader in ascending ID order.
    void closeAllDevices();
    // The open reader with this ID, or null. With a log the look-up is traced:
    // "found", or a warning when the ID is not open.
    Device* findDevice(long id, DebugLoggerNameSpace::DebugLogger* log) const;

    bool parametersSet = false;
    std::string serialPort;
    std::string btAddress;
    std::string bt3610Port;
    std::string bt3610Serial;
    std::int32_t btChannel = 5;
    std::int64_t connectionType = 0;
    std::int64_t bzVolume = 3;
    bool bzAlarm = true;
    bool bzGoodReadBeep = true;
    std::int64_t goodReadFreq = 1;
    std::int64_t goodReadDuration = 0;
    bool vibroEnabled = false;
    std::int64_t vibroDuration = 10;
    std::map<std::int64_t, Device*> devices;
};

// Process-wide state of the driver.
namespace Tarvel60xGlobals {
extern const char* const driverVersion;           // "1.0.0.12"
extern const wchar_t* const equipmentType;
extern const wchar_t* const driverDescription;
extern const wchar_t* const downloadUrl;
extern std::int64_t nextDeviceId;                 // 1 when the library is loaded
extern std::vector<BTDeviceInfo> foundBluetoothDevices;  // readers of the last ScanBluetooth
}  // namespace Tarvel60xGlobals
