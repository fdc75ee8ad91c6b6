// Variant contents, extraction from and packing into the host's value
// records, and the text conversions at the host boundary.
#include "addin/variant.h"

#include <atomic>
#include <cstring>
#include <new>
#include <stdexcept>

namespace AddIn1C {

namespace {

std::atomic<std::uint64_t> contentSerials{0};

// One block of host memory, or std::bad_alloc without touching anything.
ADDIN_CALLS_HOST void* allocateHostMemory(IMemoryManager* memory, std::size_t bytes) {
    void* block = nullptr;
    if (memory == nullptr || !memory->AllocMemory(&block, static_cast<unsigned long>(bytes)) ||
        block == nullptr)
        throw std::bad_alloc();
    return block;
}

// Narrow bytes followed by a 0 byte, as strings and blobs travel.
void packBytes(const char* bytes, std::size_t size, std::uint16_t type, tVariant* record,
               IMemoryManager* memory) {
    if (size > UINT32_MAX - 1)
        throw std::bad_alloc();
    char* buffer = static_cast<char*>(allocateHostMemory(memory, size + 1));
    if (size != 0)
        std::memcpy(buffer, bytes, size);
    buffer[size] = 0;
    record->strVal.pstrVal = buffer;
    record->strVal.strLen = static_cast<std::uint32_t>(size);
    record->vt = type;
}

}  // namespace

Variant::Content::Content() : m_serial(++contentSerials) {}

template <>
void Variant::ConcreteContent<Undefined>::packTo1CVariant(tVariant* record, IMemoryManager*) const {
    record->vt = BaseNativeAPI::VTYPE_EMPTY;
}

template <>
void Variant::ConcreteContent<bool>::packTo1CVariant(tVariant* record, IMemoryManager*) const {
    record->bVal = m_value;
    record->vt = BaseNativeAPI::VTYPE_BOOL;
}

template <>
void Variant::ConcreteContent<long>::packTo1CVariant(tVariant* record, IMemoryManager*) const {
    // The host's integer is 32 bits wide: wider values keep their low 32 bits.
    record->lVal = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_value));
    record->vt = BaseNativeAPI::VTYPE_I4;
}

template <>
void Variant::ConcreteContent<double>::packTo1CVariant(tVariant* record, IMemoryManager*) const {
    record->dblVal = m_value;
    record->vt = BaseNativeAPI::VTYPE_R8;
}

template <>
void Variant::ConcreteContent<std::wstring>::packTo1CVariant(tVariant* record,
                                                             IMemoryManager* memory) const {
    const std::size_t length = m_value.size();
    if (length > UINT32_MAX - 1)
        throw std::bad_alloc();
    WCHAR_T* buffer = static_cast<WCHAR_T*>(allocateHostMemory(memory, (length + 1) * sizeof(WCHAR_T)));
    for (std::size_t i = 0; i < length; ++i)
        buffer[i] = static_cast<WCHAR_T>(static_cast<std::uint32_t>(m_value[i]) & 0xFFFFu);
    buffer[length] = 0;
    record->wstrVal.pwstrVal = buffer;
    record->wstrVal.wstrLen = static_cast<std::uint32_t>(length);
    record->vt = BaseNativeAPI::VTYPE_PWSTR;
}

template <>
void Variant::ConcreteContent<std::string>::packTo1CVariant(tVariant* record,
                                                            IMemoryManager* memory) const {
    packBytes(m_value.data(), m_value.size(), BaseNativeAPI::VTYPE_PSTR, record, memory);
}

template <>
void Variant::ConcreteContent<BinaryData>::packTo1CVariant(tVariant* record,
                                                           IMemoryManager* memory) const {
    packBytes(m_value.data(), m_value.size(), BaseNativeAPI::VTYPE_BLOB, record, memory);
}

Variant extractVariant(const tVariant* record) {
    if (record == nullptr)
        throw std::invalid_argument("<null variant>");
    switch (record->vt) {
    case BaseNativeAPI::VTYPE_EMPTY:
    case BaseNativeAPI::VTYPE_ERROR:
        return Variant(Undefined());
    case BaseNativeAPI::VTYPE_I2:
        return Variant(static_cast<long>(record->shortVal));
    case BaseNativeAPI::VTYPE_I4:
        return Variant(static_cast<long>(record->lVal));
    case BaseNativeAPI::VTYPE_UI1:
        return Variant(static_cast<long>(record->ui8Val));
    case BaseNativeAPI::VTYPE_R4:
        return Variant(static_cast<double>(record->fltVal));
    case BaseNativeAPI::VTYPE_R8:
        return Variant(record->dblVal);
    case BaseNativeAPI::VTYPE_BOOL:
        // Read as its byte: any non-zero byte the host left there is true,
        // never a bool value outside false and true.
        return Variant(record->ui8Val != 0);
    case BaseNativeAPI::VTYPE_PWSTR: {
        const WCHAR_T* text = record->wstrVal.pwstrVal;
        const std::uint32_t length = record->wstrVal.wstrLen;
        if (text == nullptr && length != 0)
            throw std::invalid_argument("<null string>");
        std::wstring value(length, L'\0');
        for (std::uint32_t i = 0; i < length; ++i)
            value[i] = static_cast<wchar_t>(static_cast<std::uint16_t>(text[i]));
        return Variant(std::move(value));
    }
    default:
        throw std::runtime_error("<unsupported variant type>");
    }
}

void packVariant(const Variant& value, tVariant* record, IMemoryManager* memory) {
    if (value.content() != nullptr)
        value.content()->packTo1CVariant(record, memory);
}

PlatformString convertWStringToPlatform(const std::wstring& text) {
    PlatformString result(text.size(), 0);
    for (std::size_t i = 0; i < text.size(); ++i)
        result[i] = static_cast<WCHAR_T>(static_cast<std::uint32_t>(text[i]) & 0xFFFFu);
    return result;
}

std::wstring convertPlatformToWString(const PlatformString& text) {
    std::wstring result(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        result[i] = static_cast<wchar_t>(static_cast<std::uint16_t>(text[i]));
    return result;
}

std::wstring convertPlatformToWString(const WCHAR_T* text) {
    return text == nullptr ? std::wstring() : convertPlatformToWString(PlatformString(text));
}

bool isEqualICase(const PlatformString& a, const WCHAR_T* b) {
    if (b == nullptr)
        return false;
    std::size_t length = 0;
    while (b[length] != 0)
        ++length;
    if (length != a.size())
        return false;
    // Only A to Z fold; every unit above 127 (Cyrillic included) compares
    // exactly whatever the process locale.
    auto fold = [](WCHAR_T unit) -> WCHAR_T {
        return (unit >= u'A' && unit <= u'Z') ? static_cast<WCHAR_T>(unit - u'A' + u'a') : unit;
    };
    for (std::size_t i = 0; i < length; ++i)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

}  // namespace AddIn1C
