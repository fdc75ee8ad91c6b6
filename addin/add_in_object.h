// AddInObject<T>: the adapter that exposes a component class T (which derives
// from it) to the host through the component interface: method look-ups and
// calls from T's ClassMetadata, the error state, and external events.
#pragma once

#include <atomic>
#include <exception>
#include <string>

#include "addin/class_metadata.h"
#include "addin/native_api.h"
#include "addin/variant.h"
#include "support/mutex.h"

namespace AddIn1C {

using BaseNativeAPI::IAddInDefBase;
using BaseNativeAPI::IComponentBase;

template <class T>
class AddInObject : public IComponentBase {
public:
    // Code and host message code of a failure caught at the adapter boundary.
    static constexpr long kExceptionErrorCode = 111;
    static constexpr unsigned short kInformationMessage = 1005;
    static constexpr long kComponentInfo = 2000;

    AddInObject() = default;
    // Virtual through the interfaces where the host's layout gives them a
    // destructor; the registry's creator always destroys through T itself.
    ~AddInObject() = default;
    AddInObject(const AddInObject&) = delete;
    AddInObject& operator=(const AddInObject&) = delete;

    // The class's table: T's methods (T::getMetadata), then GetLastError.
    // Built on first use and never changed afterwards.
    static ClassMetadata<T>& metadata() {
        static ClassMetadata<T> table = [] {
            ClassMetadata<T> built(T::kClassName);
            T::getMetadata(built);
            built.addFunction(L"GetLastError", L"ПолучитьОшибку", 1, &AddInObject<T>::_getErrorDescription);
            return built;
        }();
        return table;
    }

    // ---- Error state: written by host calls and by reader worker threads.
    void setError(long code, const std::wstring& text) {
        MutexLock lock(m_errorMutex);
        errorCode = code;
        errorDescription = text;
    }
    void clearError() {
        MutexLock lock(m_errorMutex);
        errorCode = 0;
        errorDescription.clear();
    }

    // Offers the host an external event; false without a connection or host
    // memory, or when the host refuses it (its event buffer is full). Safe to
    // call from any thread; never throws.
    ADDIN_CALLS_HOST bool sendExternalEvent(const std::wstring& source, const std::wstring& message,
                                            const std::wstring& data) {
        IAddInDefBase* host = connection.load();
        IMemoryManager* memory = memoryManager.load();
        if (host == nullptr || memory == nullptr)
            return false;
        WCHAR_T* texts[3] = {nullptr, nullptr, nullptr};
        const std::wstring* sources[3] = {&source, &message, &data};
        int made = 0;
        try {
            for (; made < 3; ++made) {
                texts[made] = copyToHost(convertWStringToPlatform(*sources[made]), memory);
                if (texts[made] == nullptr)
                    break;
            }
        } catch (...) {
        }
        if (made < 3) {
            // Blocks never handed over stay ours to give back.
            for (int i = 0; i < made; ++i)
                memory->FreeMemory(reinterpret_cast<void**>(&texts[i]));
            return false;
        }
        return host->ExternalEvent(texts[0], texts[1], texts[2]);
    }

    // ---- IInitDoneBase
    bool ADDIN_API Init(void* disp) override {
        connection = static_cast<IAddInDefBase*>(disp);
        return disp != nullptr;
    }
    bool ADDIN_API setMemManager(void* memory) override {
        memoryManager = static_cast<IMemoryManager*>(memory);
        return memory != nullptr;
    }
    long ADDIN_API GetInfo() override { return kComponentInfo; }
    void ADDIN_API Done() override {}

    // ---- ILanguageExtenderBase
    bool ADDIN_API RegisterExtensionAs(WCHAR_T** name) override {
        if (name == nullptr)
            return false;
        WCHAR_T* copy = copyToHost(metadata().className, memoryManager.load());
        if (copy == nullptr)
            return false;
        *name = copy;
        return true;
    }

    long ADDIN_API GetNProps() override { return static_cast<long>(metadata().properties.size()); }
    long ADDIN_API FindProp(const WCHAR_T* name) override { return findByName(metadata().properties, name); }
    const WCHAR_T* ADDIN_API GetPropName(long number, long alias) override {
        const auto& list = metadata().properties;
        if (!inRange(number, list.size()))
            return nullptr;
        return copyToHost(alias == 0 ? list[number].englishName : list[number].russianName, memoryManager.load());
    }
    bool ADDIN_API GetPropVal(const long number, tVariant* value) override {
        const auto& list = metadata().properties;
        if (!inRange(number, list.size()) || value == nullptr || list[number].getter == nullptr)
            return false;
        try {
            Variant result = (static_cast<T*>(this)->*list[number].getter)();
            packVariant(result, value, memoryManager.load());
            return true;
        } catch (...) {
            handleExternalException();
            return false;
        }
    }
    bool ADDIN_API SetPropVal(const long number, tVariant* value) override {
        const auto& list = metadata().properties;
        if (!inRange(number, list.size()) || value == nullptr || list[number].setter == nullptr)
            return false;
        try {
            (static_cast<T*>(this)->*list[number].setter)(extractVariant(value));
            return true;
        } catch (...) {
            handleExternalException();
            return false;
        }
    }
    bool ADDIN_API IsPropReadable(const long number) override { return propertyFlag(number, 1); }
    bool ADDIN_API IsPropWritable(const long number) override { return propertyFlag(number, 2); }

    long ADDIN_API GetNMethods() override { return static_cast<long>(metadata().functions.size()); }
    long ADDIN_API FindMethod(const WCHAR_T* name) override { return findByName(metadata().functions, name); }
    const WCHAR_T* ADDIN_API GetMethodName(const long number, const long alias) override {
        const auto& list = metadata().functions;
        if (!inRange(number, list.size()))
            return nullptr;
        return copyToHost(alias == 0 ? list[number].englishName : list[number].russianName, memoryManager.load());
    }
    long ADDIN_API GetNParams(const long number) override {
        const auto& list = metadata().functions;
        return inRange(number, list.size()) ? list[number].paramCount : 0;
    }
    bool ADDIN_API GetParamDefValue(const long method, const long param, tVariant* value) override {
        const auto& list = metadata().functions;
        if (!inRange(method, list.size()) || value == nullptr)
            return false;
        const auto& function = list[method];
        value->vt = param < function.paramCount - function.optionalCount ? BaseNativeAPI::VTYPE_EMPTY
                                                                          : BaseNativeAPI::VTYPE_ERROR;
        return true;
    }
    bool ADDIN_API HasRetVal(const long) override { return true; }
    bool ADDIN_API CallAsProc(const long, tVariant*, const long) override { return false; }

    // Runs method number `method` with the host's arguments. A wrong number
    // or argument count is refused silently; a failure while converting or
    // running is reported to the host and gives false, keeping any output
    // argument already written back.
    bool ADDIN_API CallAsFunc(const long method, tVariant* result, tVariant* params, const long count) override {
        const auto& list = metadata().functions;
        if (!inRange(method, list.size()) || count != list[method].paramCount)
            return false;
        // Records the host did not give cannot be read or written.
        if (result == nullptr || (count > 0 && params == nullptr))
            return false;
        try {
            VariantParameters arguments;
            for (long i = 0; i < count; ++i)
                arguments.add(extractVariant(&params[i]));
            Variant returned = (static_cast<T*>(this)->*list[method].method)(arguments);
            IMemoryManager* memory = memoryManager.load();
            for (long i = 0; i < count; ++i)
                if (arguments[i].replaced())
                    packVariant(arguments[i].value, &params[i], memory);
            packVariant(returned, result, memory);
            return true;
        } catch (...) {
            handleExternalException();
            return false;
        }
    }

    // ---- LocaleBase: the Linux component keeps the process locale as it is.
    void ADDIN_API SetLocale(const WCHAR_T*) override {}

protected:
    // Called inside the handler of a caught exception: records code 111 with
    // the exception's text and shows that text to the user through the host.
    ADDIN_CALLS_HOST void handleExternalException() {
        try {
            std::wstring text;
            try {
                throw;
            } catch (const std::wstring& thrown) {
                text = thrown;
            } catch (const std::exception& thrown) {
                for (const char* byte = thrown.what(); *byte != 0; ++byte)
                    text.push_back(static_cast<wchar_t>(static_cast<signed char>(*byte)));
            } catch (...) {
                text = L"<unknown error>";
            }
            setError(kExceptionErrorCode, text);
            IAddInDefBase* host = connection.load();
            if (host != nullptr) {
                const PlatformString description = convertWStringToPlatform(text);
                host->AddError(kInformationMessage, metadata().className.c_str(), description.c_str(),
                               kExceptionErrorCode);
            }
        } catch (...) {
        }
    }

    // GetLastError: the text goes to argument 0, the code is the result, and
    // both are cleared.
    Variant _getErrorDescription(VariantParameters& params) {
        std::wstring text;
        long code = 0;
        {
            MutexLock lock(m_errorMutex);
            text.swap(errorDescription);
            code = errorCode;
            errorCode = 0;
        }
        params[0].value = Variant(std::move(text));
        return Variant(code);
    }

    // Guarded by m_errorMutex; use setError/clearError.
    long errorCode = 0;
    std::wstring errorDescription;
    std::atomic<IAddInDefBase*> connection{nullptr};
    std::atomic<IMemoryManager*> memoryManager{nullptr};

private:
    static bool inRange(long number, std::size_t size) {
        return static_cast<unsigned long>(number) < size;
    }

    template <class Record>
    static long findByName(const std::vector<Record>& list, const WCHAR_T* name) {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (isEqualICase(list[i].englishName, name) || isEqualICase(list[i].russianName, name))
                return static_cast<long>(i);
        return -1;
    }

    bool propertyFlag(long number, long bit) {
        const auto& list = metadata().properties;
        return inRange(number, list.size()) && (list[number].flags & bit) != 0;
    }

    // A zero-terminated copy in host memory (the host owns it), or null.
    ADDIN_CALLS_HOST static WCHAR_T* copyToHost(const PlatformString& text, IMemoryManager* memory) noexcept {
        if (memory == nullptr)
            return nullptr;
        void* block = nullptr;
        const unsigned long bytes = static_cast<unsigned long>((text.size() + 1) * sizeof(WCHAR_T));
        if (!memory->AllocMemory(&block, bytes) || block == nullptr)
            return nullptr;
        WCHAR_T* copy = static_cast<WCHAR_T*>(block);
        text.copy(copy, text.size());
        copy[text.size()] = 0;
        return copy;
    }

    mutable Mutex m_errorMutex;
};

}  // namespace AddIn1C
