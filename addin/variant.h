// Variant: the value that carries arguments and results between the host's
// value records and the driver's methods, with the conversions between the
// host's 16-bit text and the component's wide strings.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "addin/native_api.h"

namespace AddIn1C {

using BaseNativeAPI::IMemoryManager;
using BaseNativeAPI::tVariant;
using BaseNativeAPI::WCHAR_T;

// Text in the host's 16-bit units.
using PlatformString = std::basic_string<WCHAR_T>;

// The value "nothing": the host's empty and error records.
struct Undefined {
    bool operator==(const Undefined&) const { return true; }
};

// A block of bytes with its length.
class BinaryData {
public:
    BinaryData() = default;
    BinaryData(const void* data, std::size_t size)
        : m_bytes(static_cast<const char*>(data), static_cast<const char*>(data) + size) {}
    explicit BinaryData(std::string bytes) : m_bytes(std::move(bytes)) {}

    const char* data() const { return m_bytes.data(); }
    std::size_t size() const { return m_bytes.size(); }
    const std::string& bytes() const { return m_bytes; }
    bool operator==(const BinaryData& other) const { return m_bytes == other.m_bytes; }

private:
    std::string m_bytes;
};

class Variant {
public:
    // Thrown by getValue when the held value is not of the asked type.
    class BadCast : public std::exception {
    public:
        const char* what() const noexcept override { return "<bad cast>"; }
    };

    // Holder of one value.
    class Content {
    public:
        Content();
        virtual ~Content() = default;
        virtual const std::type_info& type() const = 0;
        virtual Content* clone() const = 0;
        // Writes the value into a host record; strings are allocated with the
        // host's memory manager. Throws std::bad_alloc, leaving the record as
        // it was, when the allocation fails.
        virtual void packTo1CVariant(tVariant* record, IMemoryManager* memory) const = 0;
        // A number no other content of the process ever had: tells a content
        // that replaced another apart even when the allocator reuses its address.
        std::uint64_t serial() const { return m_serial; }

    private:
        const std::uint64_t m_serial;
    };

    template <class T>
    class ConcreteContent : public Content {
    public:
        explicit ConcreteContent(T value) : m_value(std::move(value)) {}
        const std::type_info& type() const override { return typeid(T); }
        Content* clone() const override { return new ConcreteContent<T>(m_value); }
        void packTo1CVariant(tVariant* record, IMemoryManager* memory) const override;
        const T& value() const { return m_value; }

    private:
        T m_value;
    };

    Variant() = default;
    Variant(Undefined value) : m_content(new ConcreteContent<Undefined>(value)) {}
    Variant(bool value) : m_content(new ConcreteContent<bool>(value)) {}
    Variant(long value) : m_content(new ConcreteContent<long>(value)) {}
    Variant(int value) : Variant(static_cast<long>(value)) {}
    Variant(double value) : m_content(new ConcreteContent<double>(value)) {}
    Variant(std::wstring value) : m_content(new ConcreteContent<std::wstring>(std::move(value))) {}
    Variant(const wchar_t* value) : Variant(std::wstring(value)) {}
    Variant(std::string value) : m_content(new ConcreteContent<std::string>(std::move(value))) {}
    Variant(const char* value) : Variant(std::string(value)) {}
    Variant(BinaryData value) : m_content(new ConcreteContent<BinaryData>(std::move(value))) {}

    Variant(const Variant& other) : m_content(other.m_content ? other.m_content->clone() : nullptr) {}
    Variant(Variant&& other) noexcept : m_content(other.m_content) { other.m_content = nullptr; }
    Variant& operator=(const Variant& other) {
        if (this != &other) {
            Content* copy = other.m_content ? other.m_content->clone() : nullptr;
            delete m_content;
            m_content = copy;
        }
        return *this;
    }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            delete m_content;
            m_content = other.m_content;
            other.m_content = nullptr;
        }
        return *this;
    }
    ~Variant() { delete m_content; }

    // A copy of the held value when it is exactly of type T; BadCast otherwise.
    template <class T>
    T getValue() const {
        if (m_content == nullptr || m_content->type() != typeid(T))
            throw BadCast();
        return static_cast<const ConcreteContent<T>*>(m_content)->value();
    }

    template <class T>
    bool holds() const {
        return m_content != nullptr && m_content->type() == typeid(T);
    }

    // Null when there is nothing to pack.
    const Content* content() const { return m_content; }

private:
    Content* m_content = nullptr;
};

// The value types a Variant holds; each packs in its own way (variant.cpp).
template <>
void Variant::ConcreteContent<Undefined>::packTo1CVariant(tVariant*, IMemoryManager*) const;
template <>
void Variant::ConcreteContent<bool>::packTo1CVariant(tVariant*, IMemoryManager*) const;
template <>
void Variant::ConcreteContent<long>::packTo1CVariant(tVariant*, IMemoryManager*) const;
template <>
void Variant::ConcreteContent<double>::packTo1CVariant(tVariant*, IMemoryManager*) const;
template <>
void Variant::ConcreteContent<std::wstring>::packTo1CVariant(tVariant*, IMemoryManager*) const;
template <>
void Variant::ConcreteContent<std::string>::packTo1CVariant(tVariant*, IMemoryManager*) const;
template <>
void Variant::ConcreteContent<BinaryData>::packTo1CVariant(tVariant*, IMemoryManager*) const;

// A Variant with a new content made from a host record. Throws
// std::runtime_error("<unsupported variant type>") for codes it does not take
// and std::invalid_argument for a wide string without text but with a length.
Variant extractVariant(const tVariant* record);

// Writes the Variant into the host record; nothing when it has no content.
void packVariant(const Variant& value, tVariant* record, IMemoryManager* memory);

// Wide characters to host units, each truncated to its low 16 bits.
PlatformString convertWStringToPlatform(const std::wstring& text);
// Host units to wide characters, each zero-extended.
std::wstring convertPlatformToWString(const PlatformString& text);
std::wstring convertPlatformToWString(const WCHAR_T* text);

// Name comparison of method look-ups: equal lengths and equal units, where
// the ASCII letters compare without regard to case and every other unit
// compares exactly. False when b is null.
bool isEqualICase(const PlatformString& a, const WCHAR_T* b);

}  // namespace AddIn1C
