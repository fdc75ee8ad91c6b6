// The loaded driver on a machine whose Bluetooth library cannot be loaded:
// a cable reader still opens, Bluetooth calls fail in order, nothing crashes.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

#include "bluetooth/hidden_bluetooth_library.h"
#include "emulated_reader.h"
#include "host/test_host.h"

namespace {

using TestHost::Value;

// "result code" of a call followed by GetLastError, e.g. "0 704".
std::string callAndError(TestHost::Host& host, const char* method, std::vector<Value> args) {
    const TestHost::CallResult call = host.call(method, std::move(args));
    const bool result = call.ok && call.result.boolean();
    const TestHost::CallResult error = host.call("GetLastError", {Value()});
    return std::string(result ? "1 " : "0 ") + std::to_string(error.ok ? error.result.int32() : -1);
}

bool setParameter(TestHost::Host& host, const char* name, Value value) {
    const TestHost::CallResult call =
        host.call("SetParameter", {Value(TestHost::fromUtf8(name)), std::move(value)});
    return call.ok && call.result.boolean();
}

TEST(DriverWithoutBluetoothLibrary, CableReaderOpensAndBluetoothCallsFailCleanly) {
    const hidden_bluetooth::Outcome outcome =
        hidden_bluetooth::runWithoutLibrary("libbluetooth.so.3", []() -> std::string {
            try {
                Emulator::EmulatedReader reader;
                if (!reader.start()) {
                    return "no emulated reader";
                }
                TestHost::Host host;
                std::string results;
                setParameter(host, "ConnectionType", Value(0));
                setParameter(host, "SerialPort", Value(TestHost::fromUtf8(reader.devicePath())));
                results += "cable " + callAndError(host, "Open", {Value()});

                setParameter(host, "ConnectionType", Value(1));
                setParameter(host, "BTDevice", Value(u"00:11:22:33:44:55|1"));
                results += ", open " + callAndError(host, "Open", {Value()});
                results += ", test " + callAndError(host, "DeviceTest", {Value(), Value()});
                results += ", scan " + callAndError(host, "DoAdditionalAction", {Value(u"ScanBluetooth")});
                host.stop();
                // The calls above tried to load the library; had it been
                // there, it would be loaded now.
                const bool loaded = dlopen("libbluetooth.so.3", RTLD_NOW | RTLD_NOLOAD) != nullptr;
                return results + (loaded ? ", library loaded" : ", library absent");
            } catch (const std::exception& error) {
                return std::string("exception: ") + error.what();
            }
        });
    if (outcome.skipped) {
        GTEST_SKIP() << outcome.skipReason;
    }
    ASSERT_TRUE(outcome.exitedNormally && outcome.exitStatus == 0)
        << "signal " << outcome.signal << ", exit status " << outcome.exitStatus << "\n"
        << outcome.output;
    // Open turns any failure to open into its own 245; the Bluetooth client's
    // code (704 for a failed connect) reaches the host through DeviceTest,
    // which keeps the reader engine's code.
    EXPECT_EQ("cable 1 0, open 0 245, test 0 704, scan 0 706, library absent", outcome.result);
}

}  // namespace
