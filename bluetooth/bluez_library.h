// BluezFunctions: the Bluetooth library's calls that the BlueZ form of the
// client uses, resolved at run time so that the driver loads without it.
#pragma once

#include <string>

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

// The run-time name of the Bluetooth library that is loaded on first use.
constexpr const char* kBluezLibraryName = "libbluetooth.so.3";

// One pointer per library call; the types follow the library's own
// declarations, so a changed declaration fails to build here.
struct BluezFunctions {
    decltype(&::hci_get_route) hci_get_route = nullptr;
    decltype(&::hci_open_dev) hci_open_dev = nullptr;
    decltype(&::hci_close_dev) hci_close_dev = nullptr;
    decltype(&::hci_inquiry) hci_inquiry = nullptr;
    decltype(&::hci_read_remote_name) hci_read_remote_name = nullptr;
    decltype(&::ba2str) ba2str = nullptr;
    decltype(&::str2ba) str2ba = nullptr;
    decltype(&::sdp_connect) sdp_connect = nullptr;
    decltype(&::sdp_close) sdp_close = nullptr;
    decltype(&::sdp_uuid16_create) sdp_uuid16_create = nullptr;
    decltype(&::sdp_uuid_to_proto) sdp_uuid_to_proto = nullptr;
    decltype(&::sdp_list_append) sdp_list_append = nullptr;
    decltype(&::sdp_list_free) sdp_list_free = nullptr;
    decltype(&::sdp_service_search_attr_req) sdp_service_search_attr_req = nullptr;
    decltype(&::sdp_get_access_protos) sdp_get_access_protos = nullptr;
    decltype(&::sdp_record_free) sdp_record_free = nullptr;
};

// Opens the library of that name and resolves every call. On failure
// returns false with the reason (the loader's message or the missing call)
// and leaves nothing open.
bool loadBluezFunctions(const char* libraryName, BluezFunctions& functions, std::string& reason);

// The process's one copy of the calls, loaded from kBluezLibraryName by the
// first caller (thread-safe; the library stays loaded for the process's
// lifetime). Null when the library is unavailable;
// bluezLibraryUnavailableReason() then says why.
const BluezFunctions* bluezLibrary();
const char* bluezLibraryUnavailableReason();

// RFCOMM channel named by the first service record of the list whose
// protocol descriptor lists give one: a positive channel, or -1 when no
// record names an RFCOMM channel. The records stay owned by the caller.
int rfcommChannelOfRecords(const BluezFunctions& bluez, const sdp_list_t* records);
