// The test host's memory manager, connection, slot calls and the platform's
// start-up, call and shut-down sequences.
#include "host/test_host.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace TestHost {

// ---- Text

std::u16string fromUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint32_t code = 0;
        std::size_t extra = 0;
        if (c < 0x80) {
            code = c;
        } else if ((c & 0xE0) == 0xC0) {
            code = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F;
            extra = 2;
        } else {
            code = c & 0x07;
            extra = 3;
        }
        ++i;
        for (std::size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::string toUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

// ---- Value

Value Value::narrow(std::string bytes) {
    Value value;
    value.m_record.type = Abi::NarrowString;
    value.m_bytes = std::move(bytes);
    return value;
}

Value Value::raw(const Abi::Record& record) {
    Value value;
    value.m_record = record;
    value.m_raw = true;
    return value;
}

namespace {

[[noreturn]] void wrongType(const char* wanted, const Value& value) {
    std::ostringstream text;
    text << "value is not " << wanted << ": " << value;
    throw std::logic_error(text.str());
}

}  // namespace

bool Value::boolean() const {
    if (type() != Abi::Bool)
        wrongType("a bool", *this);
    return m_record.boolean;
}

std::int32_t Value::int32() const {
    if (type() != Abi::Int32)
        wrongType("a 32-bit integer", *this);
    return m_record.i32;
}

double Value::real() const {
    if (type() != Abi::Double)
        wrongType("a double", *this);
    return m_record.f64;
}

const std::u16string& Value::text() const {
    if (type() != Abi::WideString || m_raw)
        wrongType("a wide string", *this);
    return m_text;
}

const std::string& Value::bytes() const {
    if ((type() != Abi::NarrowString && type() != Abi::Blob) || m_raw)
        wrongType("a narrow string or blob", *this);
    return m_bytes;
}

Value Value::fromRecord(const Abi::Record& record) {
    Value value;
    value.m_record = record;
    switch (record.type) {
    case Abi::Empty:
    case Abi::Bool:
    case Abi::Int32:
    case Abi::Double:
        break;
    case Abi::WideString:
        if (record.wide.text != nullptr)
            value.m_text.assign(record.wide.text, record.wide.length);
        value.m_record.wide.text = nullptr;
        break;
    case Abi::NarrowString:
    case Abi::Blob:
        if (record.narrow.text != nullptr)
            value.m_bytes.assign(record.narrow.text, record.narrow.length);
        value.m_record.narrow.text = nullptr;
        break;
    default:
        value.m_raw = true;
    }
    return value;
}

Abi::Record Value::toRecord() {
    if (m_raw)
        return m_record;
    Abi::Record record = m_record;
    if (type() == Abi::WideString) {
        record.wide.text = m_text.data();
        record.wide.length = static_cast<std::uint32_t>(m_text.size());
    } else if (type() == Abi::NarrowString || type() == Abi::Blob) {
        record.narrow.text = m_bytes.data();
        record.narrow.length = static_cast<std::uint32_t>(m_bytes.size());
    }
    return record;
}

bool Value::operator==(const Value& other) const {
    if (type() != other.type() || m_raw != other.m_raw)
        return false;
    if (m_raw)
        return std::memcmp(&m_record, &other.m_record, sizeof m_record) == 0;
    switch (type()) {
    case Abi::Empty: return true;
    case Abi::Bool: return m_record.boolean == other.m_record.boolean;
    case Abi::Int32: return m_record.i32 == other.m_record.i32;
    case Abi::Double: return m_record.f64 == other.m_record.f64;
    case Abi::WideString: return m_text == other.m_text;
    default: return m_bytes == other.m_bytes;
    }
}

std::ostream& operator<<(std::ostream& out, const Value& value) {
    if (value.m_raw)
        return out << "raw(type " << value.type() << ")";
    switch (value.type()) {
    case Abi::Empty: return out << "empty";
    case Abi::Bool: return out << (value.m_record.boolean ? "true" : "false");
    case Abi::Int32: return out << "int32 " << value.m_record.i32;
    case Abi::Double: return out << "double " << value.m_record.f64;
    case Abi::WideString: return out << "u\"" << toUtf8(value.m_text) << "\"";
    case Abi::NarrowString: return out << "narrow \"" << value.m_bytes << "\"";
    case Abi::Blob: return out << "blob of " << value.m_bytes.size() << " bytes";
    default: return out << "type " << value.type();
    }
}

void PrintTo(const Value& value, std::ostream* out) { *out << value; }

// ---- MemoryManager

MemoryManager::~MemoryManager() {
    for (auto& block : m_blocks)
        std::free(const_cast<void*>(block.first));
}

bool MemoryManager::AllocMemory(void** block, unsigned long bytes) {
    if (block == nullptr)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failures > 0) {
        if (m_successesBeforeFailures > 0) {
            --m_successesBeforeFailures;
        } else {
            --m_failures;
            return false;
        }
    }
    void* memory = std::malloc(bytes == 0 ? 1 : bytes);
    if (memory == nullptr)
        return false;
    m_blocks[memory] = bytes;
    ++m_counts.allocations;
    *block = memory;
    return true;
}

void MemoryManager::FreeMemory(void** block) {
    if (block == nullptr || *block == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_blocks.find(*block);
        if (found == m_blocks.end()) {
            ++m_counts.foreignFrees;
            return;
        }
        m_blocks.erase(found);
    }
    std::free(*block);
    *block = nullptr;
}

void MemoryManager::release(const void* block) {
    if (block == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_blocks.find(block);
        if (found == m_blocks.end()) {
            ++m_counts.foreignBlocks;
            return;
        }
        m_blocks.erase(found);
    }
    std::free(const_cast<void*>(block));
}

void MemoryManager::failNextAllocations(std::size_t count, std::size_t after) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures = count;
    m_successesBeforeFailures = after;
}

MemoryManager::Report MemoryManager::report() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    Report result = m_counts;
    result.liveBlocks = m_blocks.size();
    result.liveBytes = 0;
    for (const auto& block : m_blocks)
        result.liveBytes += block.second;
    return result;
}

// ---- Connection

namespace {

std::u16string copyText(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

}  // namespace

bool Connection::AddError(unsigned short code, const char16_t* source, const char16_t* description,
                          long scode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errors.push_back(ErrorMessage{code, copyText(source), copyText(description), scode});
    return true;
}

bool Connection::ExternalEvent(char16_t* source, char16_t* message, char16_t* data) {
    Event event{copyText(source), copyText(message), copyText(data)};
    m_memory.release(source);
    m_memory.release(message);
    m_memory.release(data);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_refuseAll || m_refuseNext > 0) {
            if (m_refuseNext > 0)
                --m_refuseNext;
            ++m_refused;
            return false;
        }
        m_events.push_back(std::move(event));
    }
    m_eventArrived.notify_all();
    return true;
}

void Connection::refuseNextEvents(std::size_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuseNext = count;
}

void Connection::refuseAllEvents(bool refuse) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuseAll = refuse;
}

std::optional<Event> Connection::waitForEvent(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_eventArrived.wait_for(lock, timeout, [this] { return m_taken < m_events.size(); }))
        return std::nullopt;
    return m_events[m_taken++];
}

std::vector<Event> Connection::events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::size_t Connection::refusedEvents() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refused;
}

std::vector<ErrorMessage> Connection::errors() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
}

void Connection::clearErrors() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errors.clear();
}

// ---- Library

Library::Library(const std::string& path) {
    // The library stays loaded until the process ends, as in the platform.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw std::runtime_error(std::string("cannot load the library: ") + dlerror());
    m_getClassNames = reinterpret_cast<GetClassNamesFn>(dlsym(handle, "GetClassNames"));
    m_getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "GetClassObject"));
    m_destroyObject = reinterpret_cast<DestroyObjectFn>(dlsym(handle, "DestroyObject"));
    if (!m_getClassNames || !m_getClassObject || !m_destroyObject)
        throw std::runtime_error("the library lacks an entry point");
}

const char16_t* Library::getClassNames() const { return m_getClassNames(); }

long Library::getClassObject(const char16_t* name, void** object) const { return m_getClassObject(name, object); }

long Library::destroyObject(void** object) const { return m_destroyObject(object); }

// ---- Component

template <class R, class... A>
R Component::slot(Abi::Base base, std::size_t number, A... args) {
    // Each base is one table pointer; a method gets its base's address as
    // its object and the rest of the arguments as declared.
    void* self = static_cast<char*>(m_object) + base * sizeof(void*);
    void** table = *static_cast<void***>(self);
    using Function = R (*)(void*, A...);
    return reinterpret_cast<Function>(table[number])(self, args...);
}

using namespace Abi;

bool Component::init(void* connection) { return slot<bool>(InitDone, Slot::Init, connection); }
bool Component::setMemManager(void* memory) { return slot<bool>(InitDone, Slot::SetMemManager, memory); }
long Component::getInfo() { return slot<long>(InitDone, Slot::GetInfo); }
void Component::done() { slot<void>(InitDone, Slot::Done); }
bool Component::registerExtensionAs(char16_t** name) {
    return slot<bool>(LanguageExtender, Slot::RegisterExtensionAs, name);
}
long Component::getNProps() { return slot<long>(LanguageExtender, Slot::GetNProps); }
long Component::findProp(const char16_t* name) { return slot<long>(LanguageExtender, Slot::FindProp, name); }
const char16_t* Component::getPropName(long number, long alias) {
    return slot<const char16_t*>(LanguageExtender, Slot::GetPropName, number, alias);
}
bool Component::getPropVal(long number, Record* value) {
    return slot<bool>(LanguageExtender, Slot::GetPropVal, number, value);
}
bool Component::setPropVal(long number, Record* value) {
    return slot<bool>(LanguageExtender, Slot::SetPropVal, number, value);
}
bool Component::isPropReadable(long number) { return slot<bool>(LanguageExtender, Slot::IsPropReadable, number); }
bool Component::isPropWritable(long number) { return slot<bool>(LanguageExtender, Slot::IsPropWritable, number); }
long Component::getNMethods() { return slot<long>(LanguageExtender, Slot::GetNMethods); }
long Component::findMethod(const char16_t* name) { return slot<long>(LanguageExtender, Slot::FindMethod, name); }
const char16_t* Component::getMethodName(long number, long alias) {
    return slot<const char16_t*>(LanguageExtender, Slot::GetMethodName, number, alias);
}
long Component::getNParams(long number) { return slot<long>(LanguageExtender, Slot::GetNParams, number); }
bool Component::getParamDefValue(long method, long param, Record* value) {
    return slot<bool>(LanguageExtender, Slot::GetParamDefValue, method, param, value);
}
bool Component::hasRetVal(long method) { return slot<bool>(LanguageExtender, Slot::HasRetVal, method); }
bool Component::callAsProc(long method, Record* params, long count) {
    return slot<bool>(LanguageExtender, Slot::CallAsProc, method, params, count);
}
bool Component::callAsFunc(long method, Record* result, Record* params, long count) {
    return slot<bool>(LanguageExtender, Slot::CallAsFunc, method, result, params, count);
}
void Component::setLocale(const char16_t* locale) { slot<void>(Locale, Slot::SetLocale, locale); }

// ---- Host

Host::Host(const std::string& libraryPath, const std::u16string& className) {
    m_library.emplace(libraryPath);
    const char16_t* names = m_library->getClassNames();
    if (names == nullptr)
        throw std::runtime_error("GetClassNames gave nothing");
    void* object = nullptr;
    if (m_library->getClassObject(className.c_str(), &object) == 0 || object == nullptr)
        throw std::runtime_error("GetClassObject refused " + toUtf8(className));
    m_object = object;
    m_component = Component(object);
    m_component.setMemManager(static_cast<MemoryManagerInterface*>(&m_memory));
    m_component.init(static_cast<ConnectionInterface*>(&m_connection));
    m_component.getInfo();
    char16_t* registered = nullptr;
    if (m_component.registerExtensionAs(&registered) && registered != nullptr) {
        m_registeredName = registered;
        m_memory.release(registered);
    }
}

Host::Host(Attach, void* object) : m_component(object) {
    m_component.setMemManager(static_cast<MemoryManagerInterface*>(&m_memory));
    m_component.init(static_cast<ConnectionInterface*>(&m_connection));
}

Host::~Host() { stop(); }

void Host::stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    m_component.done();
    if (m_library && m_object != nullptr)
        m_library->destroyObject(&m_object);
}

long Host::findMethod(const std::u16string& name) { return m_component.findMethod(name.c_str()); }

std::optional<std::u16string> Host::methodName(long number, long alias) {
    const char16_t* name = m_component.getMethodName(number, alias);
    if (name == nullptr)
        return std::nullopt;
    std::u16string copy(name);
    m_memory.release(name);
    return copy;
}

CallResult Host::call(const std::u16string& name, std::vector<Value> args) {
    const long number = findMethod(name);
    if (number < 0)
        throw std::runtime_error("FindMethod does not know " + toUtf8(name));
    return call(number, std::move(args));
}

CallResult Host::call(long number, std::vector<Value> args) {
    std::vector<Record> records;
    records.reserve(args.size());
    for (Value& arg : args)
        records.push_back(arg.toRecord());
    Record result{};
    result.type = Empty;

    CallResult outcome;
    outcome.ok = m_component.callAsFunc(number, &result, records.empty() ? nullptr : records.data(),
                                        static_cast<long>(records.size()));

    // Strings the component wrote are its hand-overs: copy, then free them.
    auto takeOver = [this](const Record& record, const Record& before) -> Value {
        Value value = Value::fromRecord(record);
        if (record.type == WideString && record.wide.text != before.wide.text)
            m_memory.release(record.wide.text);
        else if ((record.type == NarrowString || record.type == Blob) && record.narrow.text != before.narrow.text)
            m_memory.release(record.narrow.text);
        return value;
    };
    Record noString{};
    outcome.result = takeOver(result, noString);
    for (std::size_t i = 0; i < records.size(); ++i) {
        Record before = args[i].toRecord();
        const bool unchanged = std::memcmp(&before, &records[i], sizeof(Record)) == 0;
        outcome.args.push_back(unchanged ? args[i] : takeOver(records[i], before));
    }
    return outcome;
}

}  // namespace TestHost
