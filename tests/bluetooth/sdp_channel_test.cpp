// The walk over service records that finds the RFCOMM channel of the
// serial-port service, on records built with the Bluetooth library's calls.
#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "bluetooth/bluez_library.h"

namespace {

// One protocol descriptor: the protocol's 16-bit UUID and, when not
// negative, one 8-bit parameter after it.
struct Protocol {
    std::uint16_t uuid;
    int parameter = -1;
};
using Record = std::vector<Protocol>;  // empty: a record without protocols

// Builds records and owns everything the building allocated.
class RecordList {
public:
    RecordList() = default;
    RecordList(const RecordList&) = delete;
    RecordList& operator=(const RecordList&) = delete;
    ~RecordList() {
        for (sdp_list_t* item = m_records; item != nullptr; item = item->next) {
            sdp_record_free(static_cast<sdp_record_t*>(item->data));
        }
        sdp_list_free(m_records, nullptr);
        for (sdp_list_t* list : m_lists) {
            sdp_list_free(list, nullptr);
        }
        for (sdp_data_t* value : m_values) {
            sdp_data_free(value);
        }
    }

    void add(const Record& protocols) {
        sdp_record_t* record = sdp_record_alloc();
        if (!protocols.empty()) {
            sdp_list_t* sequence = nullptr;
            for (const Protocol& protocol : protocols) {
                m_uuids.emplace_back();
                sdp_uuid16_create(&m_uuids.back(), protocol.uuid);
                sdp_list_t* descriptor = sdp_list_append(nullptr, &m_uuids.back());
                if (protocol.parameter >= 0) {
                    std::uint8_t value = static_cast<std::uint8_t>(protocol.parameter);
                    m_values.push_back(sdp_data_alloc(SDP_UINT8, &value));
                    descriptor = sdp_list_append(descriptor, m_values.back());
                }
                m_lists.push_back(descriptor);
                sequence = sdp_list_append(sequence, descriptor);
            }
            m_lists.push_back(sequence);
            sdp_list_t* access = sdp_list_append(nullptr, sequence);
            m_lists.push_back(access);
            sdp_set_access_protos(record, access);
        }
        m_records = sdp_list_append(m_records, record);
    }
    const sdp_list_t* records() const { return m_records; }

private:
    sdp_list_t* m_records = nullptr;
    std::deque<uuid_t> m_uuids;  // stable addresses for the lists
    std::vector<sdp_list_t*> m_lists;
    std::vector<sdp_data_t*> m_values;
};

TEST(SdpChannelWalk, FindsTheChannelOfTheFirstRecordThatNamesOne) {
    const BluezFunctions* bluez = bluezLibrary();
    ASSERT_NE(nullptr, bluez) << bluezLibraryUnavailableReason();

    struct Case {
        const char* what;
        std::vector<Record> records;
        int expected;
    };
    const Case cases[] = {
        {"L2CAP then RFCOMM channel 1", {{{L2CAP_UUID}, {RFCOMM_UUID, 1}}}, 1},
        {"a parameter of L2CAP is no channel", {{{L2CAP_UUID, 7}, {RFCOMM_UUID, 3}}}, 3},
        {"only L2CAP with a parameter", {{{L2CAP_UUID, 7}}}, -1},
        {"RFCOMM without a channel", {{{L2CAP_UUID}, {RFCOMM_UUID}}}, -1},
        {"no records", {}, -1},
        {"a record without protocols, then one with", {{}, {{L2CAP_UUID}, {RFCOMM_UUID, 12}}}, 12},
        {"the first record without RFCOMM is passed over",
         {{{L2CAP_UUID}}, {{L2CAP_UUID}, {RFCOMM_UUID, 5}}},
         5},
        {"the first record that names a channel wins",
         {{{L2CAP_UUID}, {RFCOMM_UUID, 2}}, {{L2CAP_UUID}, {RFCOMM_UUID, 9}}},
         2},
        {"RFCOMM channel 30", {{{L2CAP_UUID}, {RFCOMM_UUID, 30}, {OBEX_UUID}}}, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordList list;
        for (const Record& record : c.records) {
            list.add(record);
        }
        EXPECT_EQ(c.expected, rfcommChannelOfRecords(*bluez, list.records()));
    }
}

}  // namespace
