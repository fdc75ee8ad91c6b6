// Run-time loading of the Bluetooth library: the driver needs it only for
// Bluetooth readers, so a machine without it still loads the driver.
#include "bluetooth/bluez_library.h"

#include <dlfcn.h>

namespace {

template <typename Function>
bool resolve(void* handle, const char* name, Function& slot, std::string& reason) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        reason = std::string("call ") + name + " missing";
        return false;
    }
    slot = reinterpret_cast<Function>(symbol);
    return true;
}

struct LoadedLibrary {
    BluezFunctions functions;
    bool available = false;
    std::string reason;
};

}  // namespace

bool loadBluezFunctions(const char* libraryName, BluezFunctions& functions, std::string& reason) {
    void* handle = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        reason = error != nullptr ? error : std::string(libraryName) + ": cannot be loaded";
        return false;
    }
    BluezFunctions loaded;
    const bool complete =
        resolve(handle, "hci_get_route", loaded.hci_get_route, reason) &&
        resolve(handle, "hci_open_dev", loaded.hci_open_dev, reason) &&
        resolve(handle, "hci_close_dev", loaded.hci_close_dev, reason) &&
        resolve(handle, "hci_inquiry", loaded.hci_inquiry, reason) &&
        resolve(handle, "hci_read_remote_name", loaded.hci_read_remote_name, reason) &&
        resolve(handle, "ba2str", loaded.ba2str, reason) &&
        resolve(handle, "str2ba", loaded.str2ba, reason) &&
        resolve(handle, "sdp_connect", loaded.sdp_connect, reason) &&
        resolve(handle, "sdp_close", loaded.sdp_close, reason) &&
        resolve(handle, "sdp_uuid16_create", loaded.sdp_uuid16_create, reason) &&
        resolve(handle, "sdp_uuid_to_proto", loaded.sdp_uuid_to_proto, reason) &&
        resolve(handle, "sdp_list_append", loaded.sdp_list_append, reason) &&
        resolve(handle, "sdp_list_free", loaded.sdp_list_free, reason) &&
        resolve(handle, "sdp_service_search_attr_req", loaded.sdp_service_search_attr_req, reason) &&
        resolve(handle, "sdp_get_access_protos", loaded.sdp_get_access_protos, reason) &&
        resolve(handle, "sdp_record_free", loaded.sdp_record_free, reason);
    if (!complete) {
        reason = std::string(libraryName) + ": " + reason;
        dlclose(handle);
        return false;
    }
    // The handle stays open: the calls are used until the process ends.
    functions = loaded;
    return true;
}

static const LoadedLibrary& loadedLibrary() {
    // A function-local static is initialised exactly once, also when several
    // threads make their first Bluetooth call at the same time.
    static const LoadedLibrary library = [] {
        LoadedLibrary result;
        result.available = loadBluezFunctions(kBluezLibraryName, result.functions, result.reason);
        return result;
    }();
    return library;
}

const BluezFunctions* bluezLibrary() {
    const LoadedLibrary& library = loadedLibrary();
    return library.available ? &library.functions : nullptr;
}

const char* bluezLibraryUnavailableReason() {
    const LoadedLibrary& library = loadedLibrary();
    return library.available ? "" : library.reason.c_str();
}
