// Helpers of the driver's host tests: the loaded library driven through the
// test host, an emulated reader on a pseudo-terminal, the error state as the
// host reads it, and the golden documents.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "emulated_reader.h"
#include "host/test_host.h"

namespace DriverTest {

using TestHost::Value;

// The error state as GetLastError hands it over (and clears it).
struct LastError {
    long code = -1;
    std::string text;  // UTF-8
};

inline LastError lastError(TestHost::Host& host) {
    TestHost::CallResult call = host.call("GetLastError", {Value()});
    LastError error;
    if (!call.ok)
        return error;
    error.code = call.result.int32();
    error.text = TestHost::toUtf8(call.args[0].text());
    return error;
}

inline bool boolCall(TestHost::Host& host, const char* method, std::vector<Value> args) {
    TestHost::CallResult call = host.call(method, std::move(args));
    return call.ok && call.result.boolean();
}

inline bool setParameter(TestHost::Host& host, const char* name, Value value) {
    return boolCall(host, "SetParameter", {Value(TestHost::fromUtf8(name)), std::move(value)});
}

inline std::u16string text(const std::string& utf8) { return TestHost::fromUtf8(utf8); }

// Opens a reader on the emulator's terminal; the device ID, or -1 (the
// reason stays in the error state for the caller to check).
inline long openReader(TestHost::Host& host, const std::string& path) {
    if (!setParameter(host, "ConnectionType", Value(0)) ||
        !setParameter(host, "SerialPort", Value(text(path)))) {
        ADD_FAILURE() << "settings refused";
        return -1;
    }
    TestHost::CallResult call = host.call("Open", {Value()});
    if (!call.ok || !call.result.boolean())
        return -1;
    return call.args[0].int32();
}

// A started emulated reader with a tag in its field.
class Reader {
public:
    explicit Reader(Emulator::Options options = Emulator::Options()) : m_reader(options) {
        EXPECT_TRUE(m_reader.start());
        EXPECT_TRUE(m_reader.setTag(defaultTag()));
    }
    static Emulator::Tag defaultTag() {
        return {"3400", "E2000017220B0123456789AB", "E20034120123456789ABCDEF", "0A1B2C3D"};
    }
    Emulator::EmulatedReader* operator->() { return &m_reader; }
    Emulator::EmulatedReader& get() { return m_reader; }
    std::string path() const { return m_reader.devicePath(); }

private:
    Emulator::EmulatedReader m_reader;
};

// A golden document from tests/fixtures, as the host receives it.
inline std::u16string fixture(const std::string& name) {
    std::ifstream file(std::string(T60_FIXTURES_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file.good()) << name;
    std::ostringstream content;
    content << file.rdbuf();
    return TestHost::fromUtf8(content.str());
}

}  // namespace DriverTest
