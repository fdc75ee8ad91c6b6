// Tarvel60x device registry: Open, Close and DeviceTest, and the closing of
// every reader still open when the driver object goes away.
#include <string>

#include "device/device.h"
#include "driver/errors.h"
#include "driver/tarvel60x.h"
#include "support/debug_logger.h"

using AddIn1C::Variant;
using AddIn1C::VariantParameters;
using DebugLoggerNameSpace::DebugLogger;

// The serial connection kinds pass this channel along with the port name; the
// reader stores it and never uses it.
static const std::int32_t kSerialChannel = 5;

Device* Tarvel60x::prepareDevice() const {
    Device* device = new Device();
    switch (connectionType) {
    case 0:
        device->setPort(serialPort, kSerialChannel);
        device->setConnectionType(0);
        break;
    case 1:
        device->setPort(btAddress, btChannel);
        device->setConnectionType(1);
        break;
    case 2:
        device->setPort(serialPort, kSerialChannel);
        device->setConnectionType(2);
        break;
    default:
        // An unknown kind keeps the reader's defaults: a serial link without a
        // port name, which then fails to open.
        break;
    }
    return device;
}

void Tarvel60x::closeAllDevices() {
    // std::map iterates in ascending ID order.
    for (auto& entry : devices) {
        Device* device = entry.second;
        device->closeSession();
        device->closePort();
        delete device;
    }
    devices.clear();
}

Variant Tarvel60x::Open(VariantParameters& params) {
    DebugLogger log("Open");
    clearError();

    Device* device = prepareDevice();
    if (!device->openPort()) {
        log.message('E', "Create device error");
        delete device;
        setError(Errors::ConnectFailed, Errors::text(Errors::ConnectFailed));
        return Variant(false);
    }

    const std::int64_t id = Tarvel60xGlobals::nextDeviceId;
    log.message(' ', "Create device [%lli]", static_cast<long long>(id));

    const bool configured =
        device->setBuzzerConfig(static_cast<std::int32_t>(bzVolume), bzAlarm, bzGoodReadBeep) &&
        device->setGoodReadConfig(static_cast<std::int32_t>(goodReadFreq),
                                  static_cast<std::int32_t>(goodReadDuration)) &&
        device->setVibratorConfig(vibroEnabled, static_cast<std::int32_t>(vibroDuration));
    if (!configured) {
        // Deleting the reader closes its port. The reader's own code is
        // replaced: for the host the open as a whole failed.
        delete device;
        setError(Errors::ConfigureFailed, Errors::text(Errors::ConfigureFailed));
        return Variant(false);
    }

    device->setID(id);
    devices[id] = device;
    params[0].value = Variant(static_cast<long>(id));
    ++Tarvel60xGlobals::nextDeviceId;
    return Variant(true);
}

Variant Tarvel60x::Close(VariantParameters& params) {
    DebugLogger log("Close");
    clearError();

    const long id = params[0].value.getValue<long>();
    auto found = devices.find(id);
    if (found == devices.end())
        return Variant(false);

    Device* device = found->second;
    device->closeSession();
    device->closePort();
    delete device;
    devices.erase(found);
    log.message(' ', "Device [%li] delete", id);
    return Variant(true);
}

Variant Tarvel60x::DeviceTest(VariantParameters&) {
    DebugLogger log("DeviceTest");
    clearError();

    // A temporary reader: no ID, not kept. Its failures reach the error state
    // through the driver object like those of any reader.
    Device* device = prepareDevice();
    if (!device->openPort()) {
        log.message('E', "Cant open port");
        device->closePort();
        delete device;
        return Variant(false);
    }
    log.message(' ', "Port open");

    std::string info;
    const bool answered = device->getInfo(info);
    if (answered)
        log.message(' ', "Get info succesfull");

    device->closePort();
    log.message(' ', "Port close");
    delete device;
    return Variant(answered);
}
