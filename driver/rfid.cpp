// Tarvel60x RFID methods: the reading session of an open reader, the fetching
// of the tag packages it announces, and the writing of a tag.
#include <string>

#include "device/device.h"
#include "driver/errors.h"
#include "driver/tarvel60x.h"
#include "support/debug_logger.h"
#include "support/string_convert.h"

using AddIn1C::Variant;
using AddIn1C::VariantParameters;
using DebugLoggerNameSpace::DebugLogger;

namespace {

// Memory banks as the host numbers them.
const long kBankEpc = 1;
const long kBankUser = 2;

}  // namespace

Device* Tarvel60x::findDevice(long id, DebugLogger* log) const {
    auto found = devices.find(id);
    if (found == devices.end()) {
        if (log != nullptr)
            log->message('!', "Device [%li] not found", id);
        return nullptr;
    }
    if (log != nullptr)
        log->message(' ', "Device [%li] found", id);
    return found->second;
}

// The three session methods below leave the error state as it is: a host that
// fetches packages while handling an event must not lose an error it has not
// read yet.

Variant Tarvel60x::OpenSessionRFID(VariantParameters& params) {
    DebugLogger log("OpenSessionRFID");
    const long id = params[0].value.getValue<long>();

    Device* device = findDevice(id, &log);
    if (device == nullptr)
        return Variant(false);
    if (device->isSessionOpen()) {
        setError(Errors::SessionAlreadyOpen, Errors::text(Errors::SessionAlreadyOpen));
        return Variant(false);
    }
    return Variant(device->openSession());
}

Variant Tarvel60x::CloseSessionRFID(VariantParameters& params) {
    DebugLogger log("CloseSessionRFID");
    const long id = params[0].value.getValue<long>();

    Device* device = findDevice(id, &log);
    if (device == nullptr)
        return Variant(false);
    if (!device->isSessionOpen()) {
        setError(Errors::SessionNotOpen, Errors::text(Errors::SessionNotOpen));
        return Variant(false);
    }
    return Variant(device->closeSession());
}

Variant Tarvel60x::GetDataTagsRFID(VariantParameters& params) {
    DebugLogger log("GetDataTagsRFID");
    const long id = params[0].value.getValue<long>();
    const std::string number = StringConvert::UnicodeToAnsi(params[1].value.getValue<std::wstring>());

    Device* device = findDevice(id, nullptr);
    if (device == nullptr)
        return Variant(false);

    // A package is handed out once; an unknown or already fetched number gives
    // an empty text, which is still a successful call.
    const std::string data = device->getPacket(number);
    log.message(' ', "Package number: %s", number.c_str());
    log.message(' ', "Data length: %i", static_cast<int>(data.size()));

    params[2].value = Variant(StringConvert::AnsiToUnicode(data));
    return Variant(true);
}

Variant Tarvel60x::SaveDataTagRFID(VariantParameters& params) {
    DebugLogger log("SaveDataTagRFID");
    clearError();

    const long id = params[0].value.getValue<long>();
    const std::string tid = StringConvert::UnicodeToAnsi(params[1].value.getValue<std::wstring>());
    const std::string epc = StringConvert::UnicodeToAnsi(params[2].value.getValue<std::wstring>());
    const std::string data = StringConvert::UnicodeToAnsi(params[3].value.getValue<std::wstring>());
    const long bank = params[4].value.getValue<long>();
    const long timeout = params[5].value.getValue<long>();

    log.message(' ', "TID: [%s]", tid.c_str());
    log.message(' ', "EPC: [%s]", epc.c_str());
    log.message(' ', "Timeout: %li", timeout);

    if (bank != kBankEpc && bank != kBankUser)
        return Variant(false);

    log.message(' ', bank == kBankEpc ? "Bank: EPC" : "Bank: UserMemory");
    log.message(' ', "New data: [%s]", data.c_str());

    Device* device = findDevice(id, nullptr);
    if (device == nullptr)
        return Variant(false);

    // The reader waits for the operator's trigger press, checks the TID of the
    // tag then in front of it and writes; the time-out (seconds, 0 for the
    // longest wait) is its business.
    if (bank == kBankEpc)
        return Variant(device->waitForWriteEPC(epc, tid, data, timeout));
    return Variant(device->waitForWriteUser(epc, tid, data, timeout));
}
