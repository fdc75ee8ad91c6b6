// tarvel60x-demo: a reading session from the host's side against the emulated
// reader: settings, Open, two trigger presses fetched as tag packages, an EPC
// write confirmed by a further read, and the session and reader closed again.
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulated_reader.h"
#include "host/test_host.h"

namespace {

using TestHost::Value;
using std::chrono::milliseconds;
using std::chrono::seconds;

const char* const kTagTid = "E20034120123456789ABCDEF";
const char* const kTagEpc = "E2000017220B0123456789AB";
const char* const kNewEpc = "300833B2DDD9014000000001";

std::string utf8(const std::u16string& text) { return TestHost::toUtf8(text); }
std::u16string wide(const std::string& text) { return TestHost::fromUtf8(text); }

class Demo {
public:
    Demo(TestHost::Host& host, Emulator::EmulatedReader& reader) : m_host(host), m_reader(reader) {}

    bool failed() const { return m_failed; }
    void markFailed() { m_failed = true; }

    // Calls a method that answers true or false; a false answer is shown with
    // the driver's reason, as a configuration would report it.
    bool call(const char* method, std::vector<Value> args, TestHost::CallResult* out = nullptr,
              bool failureExpected = false) {
        TestHost::CallResult result = m_host.call(method, std::move(args));
        const bool ok = result.ok && result.result.type() == TestHost::Abi::Bool && result.result.boolean();
        if (!ok) {
            const auto error = lastError();
            std::printf("  %s -> false: error %ld \"%s\"%s\n", method, error.first, error.second.c_str(),
                        failureExpected ? " (as expected)" : "");
            if (!failureExpected)
                m_failed = true;
            if (!result.ok) {
                for (const TestHost::ErrorMessage& message : m_host.connection().errors())
                    std::printf("  host was told: %s\n", utf8(message.description).c_str());
                m_host.connection().clearErrors();
            }
        }
        if (out != nullptr)
            *out = std::move(result);
        return ok;
    }

    std::pair<long, std::string> lastError() {
        TestHost::CallResult error = m_host.call("GetLastError", {Value()});
        if (!error.ok)
            return {-1, "GetLastError failed"};
        return {error.result.int32(), utf8(error.args[0].text())};
    }

    bool set(const char* name, Value value, const std::string& shown) {
        std::printf("  %-22s = %s\n", name, shown.c_str());
        return call("SetParameter", {Value(wide(name)), std::move(value)});
    }

    // Presses the trigger, waits for the "RFID" event and fetches its package.
    std::optional<std::u16string> pressAndFetch() {
        std::printf("  [operator presses the trigger]\n");
        if (!m_reader.press()) {
            std::printf("  the reader did not send the press\n");
            m_failed = true;
            return std::nullopt;
        }
        const auto pressed = std::chrono::steady_clock::now();
        std::optional<TestHost::Event> event = m_host.connection().waitForEvent(seconds(10));
        if (!event) {
            std::printf("  no event within 10 s\n");
            m_failed = true;
            return std::nullopt;
        }
        const long long latency = static_cast<long long>(
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - pressed).count());
        std::printf("  external event: source \"%s\", message \"%s\", data \"%s\" (%lld ms after the press)\n",
                    utf8(event->source).c_str(), utf8(event->message).c_str(), utf8(event->data).c_str(),
                    latency);
        TestHost::CallResult fetch;
        if (!call("GetDataTagsRFID", {Value(static_cast<std::int32_t>(std::stol(utf8(event->source)))), Value(event->data), Value()}, &fetch))
            return std::nullopt;
        const std::u16string xml = fetch.args[2].text();
        std::printf("  GetDataTagsRFID(%s, \"%s\") -> package of %zu characters:\n", utf8(event->source).c_str(),
                    utf8(event->data).c_str(), xml.size());
        printTable(utf8(xml));
        return xml;
    }

    static std::string attribute(const std::string& xml, const std::string& name) {
        const std::string key = " " + name + "=\"";
        const std::size_t start = xml.find(key);
        if (start == std::string::npos)
            return "";
        const std::size_t from = start + key.size();
        const std::size_t end = xml.find('"', from);
        return end == std::string::npos ? "" : xml.substr(from, end - from);
    }

private:
    static void printTable(const std::string& xml) {
        std::size_t begin = 0;
        while (begin < xml.size()) {
            std::size_t end = xml.find('\n', begin);
            if (end == std::string::npos)
                end = xml.size();
            std::string line = xml.substr(begin, end - begin);
            for (char& c : line)
                if (c == '\t')
                    c = ' ';
            std::printf("    | %s\n", line.c_str());
            begin = end + 1;
        }
        std::printf("    %-26s %-26s %s\n", "TID", "EPC", "USER");
        std::printf("    %-26s %-26s %s\n", attribute(xml, "TID").c_str(), attribute(xml, "EPC").c_str(),
                    attribute(xml, "USER").c_str());
    }

    TestHost::Host& m_host;
    Emulator::EmulatedReader& m_reader;
    bool m_failed = false;
};

void heading(const char* text) { std::printf("\n== %s\n", text); }

int run(const std::string& library) {
    const auto started = std::chrono::steady_clock::now();

    heading("Emulated reader");
    Emulator::EmulatedReader reader;
    if (!reader.start()) {
        std::printf("  cannot create the pseudo-terminal\n");
        return 1;
    }
    reader.setTag({"3400", kTagEpc, kTagTid, "0A1B2C3D"});
    std::printf("  reader on %s, tag in the field: TID %s, EPC %s\n", reader.devicePath().c_str(), kTagTid,
                kTagEpc);

    heading("Driver");
    TestHost::Host host(library);
    Demo demo(host, reader);
    TestHost::CallResult version = host.call("GetVersion");
    std::printf("  %s loaded as \"%s\", version %s\n", library.c_str(), utf8(host.registeredName()).c_str(),
                version.ok ? utf8(version.result.text()).c_str() : "?");

    heading("Settings (SetParameter)");
    bool ok = demo.set("ConnectionType", Value(0), "0 (cable, USB virtual serial port)") &&
              demo.set("SerialPort", Value(wide(reader.devicePath())), reader.devicePath()) &&
              demo.set("BZVolume", Value(2), "2") && demo.set("BZGoodReadBeep", Value(true), "true") &&
              demo.set("VibroEnabled", Value(true), "true") && demo.set("VibroDuration", Value(3), "3");
    if (!ok)
        return 1;

    heading("Open");
    TestHost::CallResult open;
    if (!demo.call("Open", {Value()}, &open))
        return 1;
    const std::int32_t id = open.args[0].int32();
    const Emulator::ReaderState settings = reader.state();
    std::printf("  device ID %d; the reader now holds volume %d, vibration %s for %d00 ms\n", id,
                settings.buzzerVolume, settings.vibrationEnabled ? "on" : "off", settings.vibrationDuration);

    heading("OpenSessionRFID");
    if (!demo.call("OpenSessionRFID", {Value(id)}))
        return 1;
    std::printf("  session open\n");
    demo.call("OpenSessionRFID", {Value(id)}, nullptr, true);

    heading("Two trigger presses");
    demo.pressAndFetch();
    reader.setTag({"3400", "E28011606000020000000002", "E2801160200074CF085E0A1B", ""});
    std::printf("  [another tag is brought in front of the reader, without user memory]\n");
    demo.pressAndFetch();

    heading("EPC write (SaveDataTagRFID, bank 1)");
    reader.setTag({"3400", kTagEpc, kTagTid, "0A1B2C3D"});
    std::printf("  the first tag again; writing EPC %s to the tag with TID %s\n", kNewEpc, kTagTid);
    std::printf("  the write waits for the operator's press (time-out 10 s)\n");
    std::thread operatorHand([&reader] {
        std::this_thread::sleep_for(milliseconds(500));
        std::printf("  [operator presses the trigger]\n");
        reader.press();
    });
    const bool written = demo.call("SaveDataTagRFID", {Value(id), Value(wide(kTagTid)), Value(wide(kTagEpc)),
                                                       Value(wide(kNewEpc)), Value(1), Value(10)});
    operatorHand.join();
    if (written)
        std::printf("  written\n");

    heading("Reading the tag again");
    std::optional<std::u16string> confirm = demo.pressAndFetch();
    if (confirm) {
        const std::string epc = Demo::attribute(utf8(*confirm), "EPC");
        const bool confirmed = written && epc == kNewEpc;
        std::printf("  EPC read back %s: %s\n", epc.c_str(), confirmed ? "the write is confirmed" : "NOT as written");
        if (!confirmed)
            demo.markFailed();
    }

    heading("CloseSessionRFID and Close");
    demo.call("CloseSessionRFID", {Value(id)});
    demo.call("Close", {Value(id)});
    std::printf("  session closed, reader %d released\n", id);
    host.stop();
    const TestHost::MemoryManager::Report memory = host.memory().report();

    const Emulator::ReaderState state = reader.state();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    heading("Summary");
    std::printf("  the reader received %zu frames, sent %zu answers and %zu events; %d tag write(s)\n",
                state.framesReceived, state.answersSent, state.eventsSent, state.tagWrites);
    std::printf("  host memory: %zu blocks handed over by the driver, %zu not released\n", memory.allocations,
                memory.liveBlocks);
    std::printf("  %s in %.1f s\n", demo.failed() ? "FAILED" : "done", elapsed);
    return demo.failed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string library = argc > 1 ? argv[1] : T60_LIBRARY_PATH;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        return run(library);
    } catch (const std::exception& e) {
        std::printf("tarvel60x-demo: %s\n", e.what());
        return 1;
    }
}
