// The driver object's core: construction and destruction, the method table,
// GetVersion and GetDescription, the process-wide constants, and the
// registration of the class with the host.
#include "driver/tarvel60x.h"

#include <cstdlib>
#include <vector>

#include "addin/add_in_manager.h"
#include "support/debug_logger.h"
#include "support/string_convert.h"

using AddIn1C::Variant;
using AddIn1C::VariantParameters;
using DebugLoggerNameSpace::DebugLogger;

namespace Tarvel60xGlobals {
const char* const driverVersion = "1.0.0.12";
const wchar_t* const equipmentType = L"СчитывательRFID";
const wchar_t* const driverDescription = L"Драйвер для подключения RFID считывателей Tarvel серии 60x";
const wchar_t* const downloadUrl = L"https://tarvel.example/drivers/tarvel60x";
std::int64_t nextDeviceId = 1;
std::vector<BTDeviceInfo> foundBluetoothDevices;
}  // namespace Tarvel60xGlobals

namespace {

// The host interface revision the driver implements, reported by GetDescription.
constexpr long kInterfaceRevision = 1006;

}  // namespace

Tarvel60x::Tarvel60x() {
    // The log follows the driver from its first object on: a file named after
    // the class in the temporary directory.
    const std::string logName = StringConvert::UnicodeToAnsi(kClassName) + "_debug.log";
    DebugLogger::initToTempFile(logName.c_str());
    DebugLogger log("Tarvel60x");
    log.message(' ', "AddInVersion = %s", Tarvel60xGlobals::driverVersion);
    clearError();
    parametersSet = false;
}

Tarvel60x::~Tarvel60x() {
    DebugLogger log("~Tarvel60x");
    closeAllDevices();
}

void Tarvel60x::getMetadata(AddIn1C::ClassMetadata<Tarvel60x>& metadata) {
    metadata.addFunction(L"GetVersion", L"ПолучитьНомерВерсии", 0, &Tarvel60x::GetVersion);
    metadata.addFunction(L"GetDescription", L"ПолучитьОписание", 7, &Tarvel60x::GetDescription);
    metadata.addFunction(L"GetParameters", L"ПолучитьПараметры", 1, &Tarvel60x::GetParameters);
    metadata.addFunction(L"SetParameter", L"УстановитьПараметр", 2, &Tarvel60x::SetParameter);
    metadata.addFunction(L"Open", L"Подключить", 1, &Tarvel60x::Open);
    metadata.addFunction(L"Close", L"Отключить", 1, &Tarvel60x::Close);
    metadata.addFunction(L"DeviceTest", L"ТестУстройства", 2, &Tarvel60x::DeviceTest);
    metadata.addFunction(L"GetAdditionalActions", L"ПолучитьДополнительныеДействия", 1,
                         &Tarvel60x::GetAdditionalActions);
    metadata.addFunction(L"DoAdditionalAction", L"ВыполнитьДополнительноеДействие", 1,
                         &Tarvel60x::DoAdditionalAction);
    metadata.addFunction(L"OpenSessionRFID", L"ОткрытьСессиюRFID", 1, &Tarvel60x::OpenSessionRFID);
    metadata.addFunction(L"CloseSessionRFID", L"ЗакрытьСессиюRFID", 1, &Tarvel60x::CloseSessionRFID);
    metadata.addFunction(L"GetDataTagsRFID", L"ПолучитьДанныеМетокRFID", 3, &Tarvel60x::GetDataTagsRFID);
    metadata.addFunction(L"SaveDataTagRFID", L"ЗаписатьДанныеВМеткуRFID", 6, &Tarvel60x::SaveDataTagRFID);
}

Tarvel60x* Tarvel60x::registeredInstance() {
    AddIn1C::AddInManager& manager = AddIn1C::AddInManager::instance();
    if (!manager.ready())
        return nullptr;
    return static_cast<Tarvel60x*>(manager.getObject(kClassName));
}

Variant Tarvel60x::GetVersion(VariantParameters&) {
    DebugLogger log("GetVersion");
    clearError();
    const char* version = Tarvel60xGlobals::driverVersion;
    const std::size_t length = std::mbstowcs(nullptr, version, 0);
    if (length == static_cast<std::size_t>(-1))
        return Variant(std::wstring());
    std::vector<wchar_t> wide(length + 1, L'\0');
    std::mbstowcs(wide.data(), version, length + 1);
    return Variant(std::wstring(wide.data(), length));
}

Variant Tarvel60x::GetDescription(VariantParameters& params) {
    DebugLogger log("GetDescription");
    clearError();
    params[0].value = Variant(std::wstring(kClassName));
    params[1].value = Variant(Tarvel60xGlobals::driverDescription);
    params[2].value = Variant(Tarvel60xGlobals::equipmentType);
    params[3].value = Variant(kInterfaceRevision);
    params[4].value = Variant(false);  // not an integration library
    params[5].value = Variant(false);  // no main driver to install
    params[6].value = Variant(Tarvel60xGlobals::downloadUrl);
    return Variant(true);
}

namespace AddIn1C {

void InitAddIns(AddInManager& manager) {
    manager.registerObject<Tarvel60x>(Tarvel60x::kClassName);
}

}  // namespace AddIn1C
