// BluetoothSPP on BlueZ: HCI inquiry for the search, SDP for the channel of
// the serial-port service, RFCOMM sockets for the stream.
#include "bluetooth/bluetooth_spp.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "bluetooth/bluez_library.h"
#include "support/debug_logger.h"

using DebugLoggerNameSpace::DebugLogger;

namespace {

constexpr int kConnectAttempts = 10;
constexpr int kReadWaitMilliseconds = 250;
constexpr int kFailedWaitError = 4;
// read(string, size) reads at most this much in one call, so that a huge
// size never turns into a huge allocation.
constexpr std::uint64_t kMaxStringRead = 64 * 1024;
// Inquiry: 8 units of 1.28 s, at most 255 answers into room for 256.
constexpr int kInquiryLength = 8;
constexpr int kInquiryMaxResponses = 255;
constexpr std::size_t kInquiryBufferEntries = 256;
constexpr int kSdpSearchesPerDevice = 10;

// Six bytes: the word and its terminating zero.
constexpr char kWakeMessage[] = "close";

void setNonBlocking(int descriptor) {
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags >= 0) {
        fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    }
}

}  // namespace

BluetoothSPP::BluetoothSPP() = default;

BluetoothSPP::~BluetoothSPP() {
    close();
    MutexLock lock(m_descriptorLock);
    closeRetiredDescriptors();
}

int BluetoothSPP::connect(const std::string& address, int channel) {
    DebugLogger log("connect");
    log.message(' ', "Using port %i", channel);

    // A second connect must not leave the first stream open behind it.
    close();

    if ((channel & 0xFF) == 0) {
        return SetupFailed;
    }
    const BluezFunctions* bluez = bluezLibrary();
    if (bluez == nullptr) {
        log.message('E', "Bluetooth library unavailable: %s", bluezLibraryUnavailableReason());
        return SetupFailed;
    }

    sockaddr_rc target;
    std::memset(&target, 0, sizeof target);
    target.rc_family = AF_BLUETOOTH;
    if (bluez->str2ba(address.c_str(), &target.rc_bdaddr) < 0) {
        return BadAddress;
    }
    target.rc_channel = static_cast<std::uint8_t>(channel);

    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        const int stream = ::socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
        if (stream < 0) {
            return SetupFailed;
        }
        if (::connect(stream, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
            return attachStream(stream) ? Ok : SetupFailed;
        }
        ::close(stream);
    }
    return ConnectFailed;
}

bool BluetoothSPP::attachStream(int stream) {
    // Socket value 0 means "not connected", so a stream that the system
    // numbered 0 (standard input closed in the host) is moved elsewhere.
    if (stream == 0) {
        const int moved = fcntl(stream, F_DUPFD_CLOEXEC, 1);
        ::close(stream);
        if (moved < 0) {
            return false;
        }
        stream = moved;
    }
    int wakePipe[2];
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(stream);
        return false;
    }
    setNonBlocking(stream);

    MutexLock lock(m_descriptorLock);
    endStreamLocked();
    m_socket = stream;
    m_wakePipe[0] = wakePipe[0];
    m_wakePipe[1] = wakePipe[1];
    return true;
}

void BluetoothSPP::close() {
    MutexLock lock(m_descriptorLock);
    endStreamLocked();
}

void BluetoothSPP::endStreamLocked() {
    if (m_socket == 0) {
        return;
    }
    // A read() waiting on this stream sees the pipe readable and returns 0.
    const ssize_t written = ::write(m_wakePipe[1], kWakeMessage, sizeof kWakeMessage);
    (void)written;  // the pipe is new and empty: the bytes fit
    m_retired.push_back(m_socket);
    m_retired.push_back(m_wakePipe[0]);
    m_retired.push_back(m_wakePipe[1]);
    m_socket = 0;
    m_wakePipe[0] = -1;
    m_wakePipe[1] = -1;
    if (m_streamUsers == 0) {
        closeRetiredDescriptors();
    }
}

bool BluetoothSPP::beginStreamUse(int& stream, int& wakeReadEnd) {
    MutexLock lock(m_descriptorLock);
    if (m_socket == 0) {
        return false;
    }
    stream = m_socket;
    wakeReadEnd = m_wakePipe[0];
    ++m_streamUsers;
    return true;
}

void BluetoothSPP::endStreamUse() {
    MutexLock lock(m_descriptorLock);
    if (--m_streamUsers == 0) {
        closeRetiredDescriptors();
    }
}

void BluetoothSPP::closeRetiredDescriptors() {
    for (int descriptor : m_retired) {
        ::close(descriptor);
    }
    m_retired.clear();
}

int BluetoothSPP::read(std::uint8_t* buffer, int size) {
    if (size < 0 || (buffer == nullptr && size > 0)) {
        return -1;
    }
    int stream = 0;
    int wakeReadEnd = -1;
    if (!beginStreamUse(stream, wakeReadEnd)) {
        return -1;  // not connected: descriptor 0 is never read
    }
    pollfd watched[2] = {{wakeReadEnd, POLLIN, 0}, {stream, POLLIN, 0}};
    int result = 0;
    const int ready = ::poll(watched, 2, kReadWaitMilliseconds);
    if (ready < 0) {
        setLastError(kFailedWaitError);
        result = -1;
    } else if (watched[0].revents != 0) {
        result = 0;  // close() ended the stream while we waited
    } else if (watched[1].revents != 0) {
        // Readable, hung up or failed: the read tells which (0 when the peer
        // has closed the stream).
        const ssize_t count = ::read(stream, buffer, static_cast<std::size_t>(size));
        if (count >= 0) {
            result = static_cast<int>(count);
        } else {
            result = (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        }
    }
    endStreamUse();
    return result;
}

int BluetoothSPP::read(std::string& data, std::uint64_t size) {
    data.clear();
    const std::size_t wanted = static_cast<std::size_t>(std::min(size, kMaxStringRead));
    std::string buffer(std::max<std::size_t>(wanted, 1), '\0');
    const int count = read(reinterpret_cast<std::uint8_t*>(&buffer[0]), static_cast<int>(wanted));
    if (count > 0) {
        data.assign(buffer, 0, static_cast<std::size_t>(count));
    }
    return count;
}

int BluetoothSPP::write(const std::uint8_t* data, int size) {
    if (size < 0 || (data == nullptr && size > 0)) {
        return -1;
    }
    int stream = 0;
    int wakeReadEnd = -1;
    if (!beginStreamUse(stream, wakeReadEnd)) {
        return -1;  // not connected: descriptor 0 is never written
    }
    // MSG_NOSIGNAL: a reader that went away must give -1, not a signal that
    // ends the host process.
    const ssize_t count = ::send(stream, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    endStreamUse();
    return count < 0 ? -1 : static_cast<int>(count);
}

int BluetoothSPP::write(const std::string& data) {
    const std::size_t size = std::min<std::size_t>(data.size(), INT_MAX);
    return write(reinterpret_cast<const std::uint8_t*>(data.data()), static_cast<int>(size));
}

void BluetoothSPP::setLastError(int code) {
    m_lastError = code;
}

int rfcommChannelOfRecords(const BluezFunctions& bluez, const sdp_list_t* records) {
    int channel = -1;
    for (const sdp_list_t* item = records; item != nullptr && channel <= 0; item = item->next) {
        const auto* record = static_cast<const sdp_record_t*>(item->data);
        sdp_list_t* protocolLists = nullptr;
        if (record == nullptr || bluez.sdp_get_access_protos(record, &protocolLists) != 0) {
            continue;
        }
        // A record's protocol lists hold protocol descriptors; each is a
        // sequence of a protocol UUID and its parameters, so an 8-bit value
        // that follows the RFCOMM UUID is the channel.
        for (sdp_list_t* list = protocolLists; list != nullptr && channel <= 0; list = list->next) {
            for (auto* descriptor = static_cast<sdp_list_t*>(list->data);
                 descriptor != nullptr && channel <= 0; descriptor = descriptor->next) {
                int protocol = 0;
                for (auto* element = static_cast<sdp_data_t*>(descriptor->data);
                     element != nullptr && channel <= 0; element = element->next) {
                    switch (element->dtd) {
                    case SDP_UUID16:
                    case SDP_UUID32:
                    case SDP_UUID128:
                        protocol = bluez.sdp_uuid_to_proto(&element->val.uuid);
                        break;
                    case SDP_UINT8:
                        if (protocol == RFCOMM_UUID) {
                            channel = element->val.int8;
                        }
                        break;
                    default:
                        break;
                    }
                }
            }
        }
        // The descriptor lists point into the record: only the lists go.
        for (sdp_list_t* list = protocolLists; list != nullptr; list = list->next) {
            bluez.sdp_list_free(static_cast<sdp_list_t*>(list->data), nullptr);
        }
        bluez.sdp_list_free(protocolLists, nullptr);
    }
    return channel;
}

int BluetoothSPP::searchSdpPort(const std::string& address) {
    const BluezFunctions* bluez = bluezLibrary();
    if (bluez == nullptr) {
        return 0;
    }
    bdaddr_t target;
    if (bluez->str2ba(address.c_str(), &target) < 0) {
        return 0;
    }
    bdaddr_t anyAdapter;
    std::memset(&anyAdapter, 0, sizeof anyAdapter);
    sdp_session_t* session = bluez->sdp_connect(&anyAdapter, &target, SDP_RETRY_IF_BUSY);
    if (session == nullptr) {
        return 0;
    }

    uuid_t serialPortClass;
    bluez->sdp_uuid16_create(&serialPortClass, SERIAL_PORT_SVCLASS_ID);
    std::uint32_t wholeRange = 0x0000FFFF;
    sdp_list_t* search = bluez->sdp_list_append(nullptr, &serialPortClass);
    sdp_list_t* attributes = bluez->sdp_list_append(nullptr, &wholeRange);
    sdp_list_t* records = nullptr;

    int channel = -1;
    if (search != nullptr && attributes != nullptr &&
        bluez->sdp_service_search_attr_req(session, search, SDP_ATTR_REQ_RANGE, attributes, &records) == 0) {
        channel = rfcommChannelOfRecords(*bluez, records);
    }

    for (sdp_list_t* item = records; item != nullptr; item = item->next) {
        bluez->sdp_record_free(static_cast<sdp_record_t*>(item->data));
    }
    bluez->sdp_list_free(records, nullptr);
    bluez->sdp_list_free(attributes, nullptr);
    bluez->sdp_list_free(search, nullptr);
    bluez->sdp_close(session);
    return channel;
}

int BluetoothSPP::find(std::vector<BTDeviceInfo>& devices) {
    const BluezFunctions* bluez = bluezLibrary();
    if (bluez == nullptr) {
        DebugLogger log("find");
        log.message('E', "Bluetooth library unavailable: %s", bluezLibraryUnavailableReason());
        return SetupFailed;
    }
    const int adapter = bluez->hci_get_route(nullptr);
    if (adapter < 0) {
        return SetupFailed;
    }
    const int adapterHandle = bluez->hci_open_dev(adapter);
    if (adapterHandle < 0) {
        return SetupFailed;
    }

    // The library fills the buffer given; should it hand back one of its
    // own instead, that one is released below.
    std::vector<inquiry_info> buffer(kInquiryBufferEntries);
    inquiry_info* responses = buffer.data();
    int count = bluez->hci_inquiry(adapter, kInquiryLength, kInquiryMaxResponses, nullptr, &responses,
                                   IREQ_CACHE_FLUSH);
    const bool replaced = responses != buffer.data();
    if (!replaced && count > static_cast<int>(buffer.size())) {
        count = static_cast<int>(buffer.size());
    }
    if (count < 0 || responses == nullptr) {
        bluez->hci_close_dev(adapterHandle);
        if (replaced) {
            std::free(responses);
        }
        return SetupFailed;
    }

    for (int i = 0; i < count; ++i) {
        char address[19] = {};
        bluez->ba2str(&responses[i].bdaddr, address);
        char name[248] = {};
        if (bluez->hci_read_remote_name(adapterHandle, &responses[i].bdaddr, sizeof name, name, 0) < 0) {
            continue;  // a device that does not give its name is left out
        }
        name[sizeof name - 1] = '\0';
        int channel = 0;
        for (int search = 0; search < kSdpSearchesPerDevice; ++search) {
            channel = searchSdpPort(address);
            if (channel > 0) {
                break;
            }
        }
        devices.push_back(BTDeviceInfo{address, name, channel});
    }

    bluez->hci_close_dev(adapterHandle);
    if (replaced) {
        std::free(responses);
    }
    return Ok;
}
