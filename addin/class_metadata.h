// ClassMetadata<T>: the method and property table through which the host
// finds a component class's methods by name and number, and
// VariantParameters, the arguments of one call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "addin/variant.h"

namespace AddIn1C {

// One argument of a call: the value the method reads and may replace, and
// the content it held on entry (a replaced value goes back to the host).
struct VariantWithInitialContent {
    Variant value;
    const Variant::Content* initialContent = nullptr;
    // Serial of the entry content: a replacement is recognised even when the
    // new content happens to occupy the freed address of the old one.
    std::uint64_t initialSerial = 0;

    bool replaced() const {
        const Variant::Content* now = value.content();
        return now != initialContent || (now != nullptr && now->serial() != initialSerial);
    }
};

class VariantParameters {
public:
    VariantParameters() = default;
    VariantParameters(const VariantParameters&) = delete;
    VariantParameters& operator=(const VariantParameters&) = delete;

    // Appends an argument and remembers its content as the entry content.
    void add(Variant value) {
        m_items.emplace_back();
        VariantWithInitialContent& item = m_items.back();
        item.value = std::move(value);
        item.initialContent = item.value.content();
        item.initialSerial = item.initialContent ? item.initialContent->serial() : 0;
    }

    std::size_t size() const { return m_items.size(); }
    VariantWithInitialContent& operator[](std::size_t index) { return m_items[index]; }
    const VariantWithInitialContent& operator[](std::size_t index) const { return m_items[index]; }

private:
    std::vector<VariantWithInitialContent> m_items;
};

template <class T>
class ClassMetadata {
public:
    using Method = Variant (T::*)(VariantParameters&);
    using Getter = Variant (T::*)();
    using Setter = void (T::*)(const Variant&);

    struct Function {
        PlatformString englishName;
        PlatformString russianName;
        long paramCount;
        long optionalCount;
        Method method;
    };

    struct Property {
        PlatformString englishName;
        PlatformString russianName;
        long flags;  // bit 0 readable, bit 1 writable
        Getter getter;
        Setter setter;
    };

    enum PropertyFlags : long { Readable = 1, Writable = 2 };

    explicit ClassMetadata(const std::wstring& name) : className(convertWStringToPlatform(name)) {}

    void addFunction(const wchar_t* english, const wchar_t* russian, long paramCount, Method method,
                     long optionalCount = 0) {
        functions.push_back(Function{convertWStringToPlatform(english), convertWStringToPlatform(russian),
                                     paramCount, optionalCount, method});
    }

    void addProperty(const wchar_t* english, const wchar_t* russian, long flags, Getter getter,
                     Setter setter) {
        properties.push_back(Property{convertWStringToPlatform(english), convertWStringToPlatform(russian),
                                      flags, getter, setter});
    }

    PlatformString className;
    std::vector<Function> functions;
    std::vector<Property> properties;
};

}  // namespace AddIn1C
