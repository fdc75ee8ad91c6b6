// The test host's own declarations of the host interface: the value record
// and the two interfaces the host implements for the component. Written
// independently of the library's declarations, so that a layout slip in
// either shows up as a failing test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace TestHost {
namespace Abi {

// The value record: a union sized by struct tm, then the element count, then
// the type code.
struct Record {
    union {
        std::int16_t i16;
        std::int32_t i32;
        std::int64_t i64;
        std::uint8_t u8;
        float f32;
        double f64;
        bool boolean;
        struct tm time;
        struct {
            char* text;
            std::uint32_t length;
        } narrow;
        struct {
            char16_t* text;
            std::uint32_t length;
        } wide;
    };
    std::uint32_t elements;
    std::uint16_t type;
};

static_assert(sizeof(Record) == 64, "value record size");
static_assert(offsetof(Record, narrow.length) == 8, "byte count offset");
static_assert(offsetof(Record, wide.length) == 8, "unit count offset");
static_assert(offsetof(Record, elements) == 56, "element count offset");
static_assert(offsetof(Record, type) == 60, "type code offset");

// Type codes.
enum Type : std::uint16_t {
    Empty = 0,
    Null = 1,
    Int16 = 2,
    Int32 = 3,
    Float = 4,
    Double = 5,
    Date = 6,
    Tm = 7,
    NarrowString = 8,
    Interface = 9,
    Error = 10,
    Bool = 11,
    Variant = 12,
    Int8 = 13,
    UInt8 = 14,
    UInt16 = 15,
    UInt32 = 16,
    Int64 = 17,
    UInt64 = 18,
    Int = 19,
    UInt = 20,
    HResult = 21,
    WideString = 22,
    Blob = 23,
    Guid = 24,
};

// Handed to the component's setMemManager (a virtual destructor first: two
// slots in this ABI).
class MemoryManagerInterface {
public:
    virtual ~MemoryManagerInterface() = default;
    virtual bool AllocMemory(void** block, unsigned long bytes) = 0;
    virtual void FreeMemory(void** block) = 0;
};

// Handed to the component's Init.
class ConnectionInterface {
public:
    virtual ~ConnectionInterface() = default;
    virtual bool AddError(unsigned short code, const char16_t* source, const char16_t* description,
                          long scode) = 0;
    virtual bool Read(char16_t* name, Record* value, long* errorCode, char16_t** errorText) = 0;
    virtual bool Write(char16_t* name, Record* value) = 0;
    virtual bool RegisterProfileAs(char16_t* name) = 0;
    virtual bool SetEventBufferDepth(long depth) = 0;
    virtual long GetEventBufferDepth() = 0;
    virtual bool ExternalEvent(char16_t* source, char16_t* message, char16_t* data) = 0;
    virtual void CleanEventBuffer() = 0;
    virtual bool SetStatusLine(char16_t* text) = 0;
    virtual void ResetStatusLine() = 0;
};

// The component object as the host sees it: three interface pointers, each
// to a table of functions called by slot number (two destructor slots first).
enum Base : std::size_t { InitDone = 0, LanguageExtender = 1, Locale = 2 };

namespace Slot {
// InitDone
constexpr std::size_t Init = 2, SetMemManager = 3, GetInfo = 4, Done = 5;
// LanguageExtender
constexpr std::size_t RegisterExtensionAs = 2, GetNProps = 3, FindProp = 4, GetPropName = 5,
                      GetPropVal = 6, SetPropVal = 7, IsPropReadable = 8, IsPropWritable = 9,
                      GetNMethods = 10, FindMethod = 11, GetMethodName = 12, GetNParams = 13,
                      GetParamDefValue = 14, HasRetVal = 15, CallAsProc = 16, CallAsFunc = 17;
// Locale
constexpr std::size_t SetLocale = 2;
}  // namespace Slot

}  // namespace Abi
}  // namespace TestHost
