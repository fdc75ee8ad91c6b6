// DriverOwner: the driver object with a stand-in host connection and memory
// manager written against the component interface.
#include "tests/device/driver_owner.h"

#include <cstdlib>

#include "addin/add_in_manager.h"
#include "addin/native_api.h"
#include "driver/tarvel60x.h"

using namespace AddIn1C::BaseNativeAPI;

namespace {

std::wstring widen(const WCHAR_T* text) {
    std::wstring wide;
    for (; text != nullptr && *text != 0; ++text)
        wide.push_back(static_cast<wchar_t>(*text));
    return wide;
}

class Memory : public IMemoryManager {
public:
    bool ADDIN_API AllocMemory(void** block, unsigned long bytes) override {
        *block = std::malloc(bytes);
        return *block != nullptr;
    }
    void ADDIN_API FreeMemory(void** block) override {
        std::free(*block);
        *block = nullptr;
    }
};

}  // namespace

struct DriverOwner::Host : public IAddInDefBase {
    Memory memory;
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<Event> accepted;
    std::vector<std::wstring> offered;
    int refusals = 0;

    bool ADDIN_API AddError(unsigned short, const WCHAR_T*, const WCHAR_T*, long) override { return true; }
    bool ADDIN_API Read(WCHAR_T*, tVariant*, long*, WCHAR_T**) override { return false; }
    bool ADDIN_API Write(WCHAR_T*, tVariant*) override { return false; }
    bool ADDIN_API RegisterProfileAs(WCHAR_T*) override { return false; }
    bool ADDIN_API SetEventBufferDepth(long) override { return true; }
    long ADDIN_API GetEventBufferDepth() override { return 1; }
    bool ADDIN_API ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) override {
        Event event{widen(source), widen(message), widen(data), std::chrono::steady_clock::now()};
        // The texts are the host's now: free them as the host would.
        void* blocks[3] = {source, message, data};
        for (void*& block : blocks)
            memory.FreeMemory(&block);
        std::lock_guard<std::mutex> guard(lock);
        offered.push_back(event.data);
        if (refusals > 0) {
            --refusals;
            return false;
        }
        accepted.push_back(event);
        changed.notify_all();
        return true;
    }
    void ADDIN_API CleanEventBuffer() override {}
    bool ADDIN_API SetStatusLine(WCHAR_T*) override { return true; }
    void ADDIN_API ResetStatusLine() override {}
};

DriverOwner::DriverOwner() : m_host(new Host) {
    AddIn1C::AddInManager& manager = AddIn1C::AddInManager::instance();
    if (!manager.ready())
        AddIn1C::InitAddIns(manager);
    m_driver = Tarvel60x::registeredInstance();
    if (m_driver != nullptr) {
        m_driver->setMemManager(&m_host->memory);
        m_driver->Init(static_cast<IAddInDefBase*>(m_host.get()));
    }
}

DriverOwner::~DriverOwner() {
    if (m_driver != nullptr) {
        m_driver->Init(nullptr);
        m_driver->setMemManager(nullptr);
    }
}

DriverOwner::Error DriverOwner::takeError() {
    Error error;
    if (m_driver == nullptr)
        return error;
    const long method = m_driver->FindMethod(u"GetLastError");
    tVariant result{};
    tVariant argument{};
    if (!m_driver->CallAsFunc(method, &result, &argument, 1))
        return error;
    error.code = result.vt == VTYPE_I4 ? result.lVal : static_cast<long>(result.llVal);
    if (argument.vt == VTYPE_PWSTR && argument.wstrVal.pwstrVal != nullptr) {
        for (std::uint32_t i = 0; i < argument.wstrVal.wstrLen; ++i)
            error.text.push_back(static_cast<wchar_t>(argument.wstrVal.pwstrVal[i]));
        void* block = argument.wstrVal.pwstrVal;
        m_host->memory.FreeMemory(&block);
    }
    return error;
}

void DriverOwner::setError(long code, const std::wstring& text) {
    if (m_driver != nullptr)
        m_driver->setError(code, text);
}

std::vector<DriverOwner::Event> DriverOwner::events() const {
    std::lock_guard<std::mutex> guard(m_host->lock);
    return m_host->accepted;
}

std::vector<std::wstring> DriverOwner::offers() const {
    std::lock_guard<std::mutex> guard(m_host->lock);
    return m_host->offered;
}

void DriverOwner::refuseNext(int count) {
    std::lock_guard<std::mutex> guard(m_host->lock);
    m_host->refusals = count;
}

bool DriverOwner::waitForEvents(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(m_host->lock);
    return m_host->changed.wait_for(guard, timeout, [&] { return m_host->accepted.size() >= count; });
}
