// The test host: loads the built driver library with dlopen and drives it as
// the platform does, calling the component through explicit slot numbers.
//
// Use (link the CMake target t60_test_host, which also defines
// T60_LIBRARY_PATH, the path of the built library):
//
//     #include "host/test_host.h"
//     using TestHost::Value;
//
//     TestHost::Host host;                 // load, create "Tarvel60x", Init...
//     auto version = host.call("GetVersion");
//     EXPECT_TRUE(version.ok);
//     EXPECT_EQ(version.result.text(), u"1.0.0.12");
//
//     auto open = host.call("Open", {Value()});   // output argument: empty
//     if (!open.result.boolean()) {
//         auto error = host.call("GetLastError", {Value()});
//         long code = error.result.int32();         // 245
//         std::u16string text = error.args[0].text();
//     }
//     host.call("SetParameter", {Value(u"SerialPort"), Value(u"/dev/pts/3")});
//
//     auto event = host.connection().waitForEvent(std::chrono::seconds(10));
//     ASSERT_TRUE(event);                  // std::optional<Event>
//     EXPECT_EQ(event->message, u"RFID");
//     host.connection().refuseNextEvents(2);   // or refuseAllEvents(true)
//
// Method names are UTF-8 or UTF-16 (English or Russian; "GetLastError" is
// number 13). A name FindMethod does not know throws std::runtime_error.
// Values: Value() empty, Value(true), Value(5) (32-bit integer), Value(2.5),
// Value(u"text") wide string, Value::narrow("bytes"), Value::raw(record) for
// any record (type codes the driver refuses, a null text with a length).
// At the end (destructor or stop()) the host calls Done and DestroyObject;
// memory().report() then tells blocks the component never handed over and
// frees of blocks that were not the host's. The host frees every block the
// component hands over (results, replaced arguments, names, event texts).
// The library stays loaded until the process ends, as in the platform.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/host_abi.h"

namespace TestHost {

// UTF-8 <-> UTF-16 for names and messages (surrogate pairs both ways).
std::u16string fromUtf8(const std::string& text);
std::string toUtf8(const std::u16string& text);

// A value as the host holds it.
class Value {
public:
    Value() { m_record.type = Abi::Empty; }
    Value(bool value) { m_record.type = Abi::Bool; m_record.boolean = value; }
    Value(std::int32_t value) { m_record.type = Abi::Int32; m_record.i32 = value; }
    Value(double value) { m_record.type = Abi::Double; m_record.f64 = value; }
    Value(std::u16string text) : m_text(std::move(text)) { m_record.type = Abi::WideString; }
    Value(const char16_t* text) : Value(std::u16string(text)) {}
    // Narrow text must be asked for with Value::narrow (a plain pointer
    // would otherwise become a bool).
    Value(const char*) = delete;

    static Value narrow(std::string bytes);
    // Any record as it stands; pointers in it are passed to the component
    // unchanged and must stay valid during the call.
    static Value raw(const Abi::Record& record);

    std::uint16_t type() const { return m_record.type; }
    bool isEmpty() const { return type() == Abi::Empty; }
    // Accessors for the type they name; a mismatch throws std::logic_error.
    bool boolean() const;
    std::int32_t int32() const;
    double real() const;
    const std::u16string& text() const;   // wide string
    const std::string& bytes() const;     // narrow string or blob
    const Abi::Record& record() const { return m_record; }

    // A Value from a record the component wrote (strings are copied).
    static Value fromRecord(const Abi::Record& record);
    // A record for the component; strings point into this Value.
    Abi::Record toRecord();

    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

private:
    friend std::ostream& operator<<(std::ostream& out, const Value& value);

    Abi::Record m_record{};
    std::u16string m_text;
    std::string m_bytes;
    bool m_raw = false;
};

void PrintTo(const Value& value, std::ostream* out);
std::ostream& operator<<(std::ostream& out, const Value& value);

// Host memory: every block is tracked; blocks the component hands over are
// freed by the host.
class MemoryManager : public Abi::MemoryManagerInterface {
public:
    struct Report {
        std::size_t liveBlocks = 0;      // allocated and not yet freed
        std::size_t liveBytes = 0;
        std::size_t allocations = 0;     // all successful AllocMemory calls
        std::size_t foreignFrees = 0;    // FreeMemory of a block that is not live
        std::size_t foreignBlocks = 0;   // the component handed over a block that is not live
    };

    MemoryManager() = default;
    ~MemoryManager() override;
    MemoryManager(const MemoryManager&) = delete;
    MemoryManager& operator=(const MemoryManager&) = delete;

    bool AllocMemory(void** block, unsigned long bytes) override;
    void FreeMemory(void** block) override;

    // The host takes a block the component handed over and frees it.
    void release(const void* block);
    // After `after` more successful allocations, the next `count` fail
    // (AllocMemory answers false).
    void failNextAllocations(std::size_t count, std::size_t after = 0);
    Report report() const;

private:
    mutable std::mutex m_mutex;
    std::map<const void*, std::size_t> m_blocks;
    Report m_counts;
    std::size_t m_failures = 0;
    std::size_t m_successesBeforeFailures = 0;
};

struct ErrorMessage {
    unsigned short code;
    std::u16string source;
    std::u16string description;
    long scode;
};

struct Event {
    std::u16string source;
    std::u16string message;
    std::u16string data;
};

// The host's connection: records errors and events from any thread.
class Connection : public Abi::ConnectionInterface {
public:
    explicit Connection(MemoryManager& memory) : m_memory(memory) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool AddError(unsigned short code, const char16_t* source, const char16_t* description,
                  long scode) override;
    bool Read(char16_t*, Abi::Record*, long*, char16_t**) override { return false; }
    bool Write(char16_t*, Abi::Record*) override { return false; }
    bool RegisterProfileAs(char16_t*) override { return false; }
    bool SetEventBufferDepth(long) override { return false; }
    long GetEventBufferDepth() override { return 1; }
    // Accepts the event (true) unless told to refuse; the texts are the
    // host's either way and are freed at once.
    bool ExternalEvent(char16_t* source, char16_t* message, char16_t* data) override;
    void CleanEventBuffer() override {}
    bool SetStatusLine(char16_t*) override { return false; }
    void ResetStatusLine() override {}

    // Refuse the next `count` events / every event until told otherwise.
    void refuseNextEvents(std::size_t count);
    void refuseAllEvents(bool refuse);

    // The oldest accepted event not yet taken, waiting up to `timeout`.
    std::optional<Event> waitForEvent(std::chrono::milliseconds timeout);
    // Every accepted event so far (taken or not), in order.
    std::vector<Event> events() const;
    std::size_t refusedEvents() const;
    std::vector<ErrorMessage> errors() const;
    void clearErrors();

private:
    MemoryManager& m_memory;
    mutable std::mutex m_mutex;
    std::condition_variable m_eventArrived;
    std::vector<ErrorMessage> m_errors;
    std::vector<Event> m_events;
    std::size_t m_taken = 0;
    std::size_t m_refused = 0;
    std::size_t m_refuseNext = 0;
    bool m_refuseAll = false;
};

// The library's three exported functions.
class Library {
public:
    // Loads (or finds the already loaded) library; throws std::runtime_error
    // when it or an export is missing.
    explicit Library(const std::string& path = T60_LIBRARY_PATH);

    const char16_t* getClassNames() const;
    long getClassObject(const char16_t* name, void** object) const;
    long destroyObject(void** object) const;

private:
    using GetClassNamesFn = const char16_t* (*)();
    using GetClassObjectFn = long (*)(const char16_t*, void**);
    using DestroyObjectFn = long (*)(void**);
    GetClassNamesFn m_getClassNames = nullptr;
    GetClassObjectFn m_getClassObject = nullptr;
    DestroyObjectFn m_destroyObject = nullptr;
};

// A component object driven through explicit slot numbers.
class Component {
public:
    explicit Component(void* object) : m_object(object) {}
    void* object() const { return m_object; }

    bool init(void* connection);
    bool setMemManager(void* memory);
    long getInfo();
    void done();
    bool registerExtensionAs(char16_t** name);
    long getNProps();
    long findProp(const char16_t* name);
    const char16_t* getPropName(long number, long alias);
    bool getPropVal(long number, Abi::Record* value);
    bool setPropVal(long number, Abi::Record* value);
    bool isPropReadable(long number);
    bool isPropWritable(long number);
    long getNMethods();
    long findMethod(const char16_t* name);
    const char16_t* getMethodName(long number, long alias);
    long getNParams(long number);
    bool getParamDefValue(long method, long param, Abi::Record* value);
    bool hasRetVal(long method);
    bool callAsProc(long method, Abi::Record* params, long count);
    bool callAsFunc(long method, Abi::Record* result, Abi::Record* params, long count);
    void setLocale(const char16_t* locale);

private:
    template <class R, class... A>
    R slot(Abi::Base base, std::size_t number, A... args);

    void* m_object;
};

struct CallResult {
    bool ok = false;            // what CallAsFunc answered
    Value result;               // the returned value
    std::vector<Value> args;    // the arguments after the call (outputs replaced)
};

class Host {
public:
    // Loads the library and starts the component as the platform does:
    // GetClassNames, GetClassObject(className), setMemManager, Init, GetInfo,
    // RegisterExtensionAs. Throws std::runtime_error when the object cannot
    // be had.
    explicit Host(const std::string& libraryPath = T60_LIBRARY_PATH,
                  const std::u16string& className = u"Tarvel60x");
    // Drives a component object that the test made itself (in-process);
    // the test destroys it, stop() only calls Done.
    struct Attach {};
    Host(Attach, void* object);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    MemoryManager& memory() { return m_memory; }
    Connection& connection() { return m_connection; }
    Component& component() { return m_component; }
    const std::u16string& registeredName() const { return m_registeredName; }

    long findMethod(const std::u16string& name);
    long findMethod(const std::string& utf8Name) { return findMethod(fromUtf8(utf8Name)); }
    // The method's name (alias 0 English, else Russian), freed by the host;
    // nullopt when the component gives none.
    std::optional<std::u16string> methodName(long number, long alias);

    CallResult call(long number, std::vector<Value> args = {});
    CallResult call(const std::u16string& name, std::vector<Value> args = {});
    CallResult call(const std::string& utf8Name, std::vector<Value> args = {}) {
        return call(fromUtf8(utf8Name), std::move(args));
    }
    CallResult call(const char* utf8Name, std::vector<Value> args = {}) {
        return call(fromUtf8(utf8Name), std::move(args));
    }

    // Done, then DestroyObject when the host made the object; once.
    void stop();

private:
    MemoryManager m_memory;
    Connection m_connection{m_memory};
    std::optional<Library> m_library;
    void* m_object = nullptr;
    Component m_component{nullptr};
    std::u16string m_registeredName;
    bool m_stopped = false;
};

}  // namespace TestHost
