// The host's binary interface: the value record, the interfaces the component
// implements and the host's memory manager and connection, declared with the
// exact slot order and record layout that a separately compiled host expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace AddIn1C {
namespace BaseNativeAPI {

// The one place where the two deliverables differ in declarations. The
// Linux host uses the Itanium layout: a virtual destructor fills two slots
// and is declared as such. A host built with Microsoft's compiler gives the
// destructor ONE slot, so the Windows form puts exactly one placeholder
// virtual function there and destroys objects through their concrete type.
#ifdef _WIN32
typedef wchar_t WCHAR_T;
#define ADDIN_API __stdcall
#define ADDIN_DESTRUCTOR_SLOT(Name) \
    virtual void ADDIN_API destructorSlot() {} \
protected: \
    ~Name() {} \
public:
#else
typedef char16_t WCHAR_T;
#define ADDIN_API
#define ADDIN_DESTRUCTOR_SLOT(Name) virtual ~Name() {}
#endif

// Marks a function that calls into the host's memory manager or connection.
// Those objects are of the host's own classes, which share only the slot
// layout with the declarations below, so the sanitizer's run-time type check
// of member calls does not apply to them.
#define ADDIN_CALLS_HOST __attribute__((no_sanitize("vptr")))

// Type codes of the value record.
enum TYPEENUMVAR : std::uint16_t {
    VTYPE_EMPTY = 0,
    VTYPE_NULL = 1,
    VTYPE_I2 = 2,
    VTYPE_I4 = 3,
    VTYPE_R4 = 4,
    VTYPE_R8 = 5,
    VTYPE_DATE = 6,
    VTYPE_TM = 7,
    VTYPE_PSTR = 8,
    VTYPE_INTERFACE = 9,
    VTYPE_ERROR = 10,
    VTYPE_BOOL = 11,
    VTYPE_VARIANT = 12,
    VTYPE_I1 = 13,
    VTYPE_UI1 = 14,
    VTYPE_UI2 = 15,
    VTYPE_UI4 = 16,
    VTYPE_I8 = 17,
    VTYPE_UI8 = 18,
    VTYPE_INT = 19,
    VTYPE_UINT = 20,
    VTYPE_HRESULT = 21,
    VTYPE_PWSTR = 22,
    VTYPE_BLOB = 23,
    VTYPE_CLSID = 24,
};

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

// The value record exchanged with the host: a union, then the element count,
// then the type code, with natural alignment.
struct _tVariant {
    union {
        std::int8_t i8Val;
        std::int16_t shortVal;
        std::int32_t lVal;
        int intVal;
        unsigned int uintVal;
        std::int64_t llVal;
        std::uint8_t ui8Val;
        std::uint16_t ushortVal;
        std::uint32_t ulVal;
        std::uint64_t ullVal;
        std::int32_t errCode;
        long hRes;
        float fltVal;
        double dblVal;
        bool bVal;
        char chVal;
        wchar_t wchVal;
        double date;
        Guid IDVal;
        _tVariant* pvarVal;
        struct tm tmVal;
        struct {
            void* pInterfaceVal;
            Guid InterfaceID;
        } interfaceVal;
        struct {
            char* pstrVal;
            std::uint32_t strLen;
        } strVal;
        struct {
            WCHAR_T* pwstrVal;
            std::uint32_t wstrLen;
        } wstrVal;
    };
    std::uint32_t cbElements;
    std::uint16_t vt;
};
typedef _tVariant tVariant;

#ifndef _WIN32
static_assert(sizeof(WCHAR_T) == 2, "host text unit has 16 bits");
static_assert(sizeof(long) == 8, "the host's long has 64 bits on Linux");
static_assert(sizeof(struct tm) == 56, "struct tm sets the union size");
static_assert(offsetof(_tVariant, strVal.pstrVal) == 0, "pstrVal offset");
static_assert(offsetof(_tVariant, strVal.strLen) == 8, "strLen offset");
static_assert(offsetof(_tVariant, wstrVal.pwstrVal) == 0, "pwstrVal offset");
static_assert(offsetof(_tVariant, wstrVal.wstrLen) == 8, "wstrLen offset");
static_assert(offsetof(_tVariant, lVal) == 0 && offsetof(_tVariant, dblVal) == 0 &&
                  offsetof(_tVariant, bVal) == 0,
              "scalars at offset 0");
static_assert(offsetof(_tVariant, cbElements) == 56, "cbElements offset");
static_assert(offsetof(_tVariant, vt) == 60, "vt offset");
static_assert(sizeof(_tVariant) == 64, "value record size");
#endif

// Implemented by the host: the allocator of every block handed to it.
class IMemoryManager {
public:
    ADDIN_DESTRUCTOR_SLOT(IMemoryManager)
    virtual bool ADDIN_API AllocMemory(void** block, unsigned long bytes) = 0;
    virtual void ADDIN_API FreeMemory(void** block) = 0;
};

// Implemented by the host: the connection handed to Init.
class IAddInDefBase {
public:
    ADDIN_DESTRUCTOR_SLOT(IAddInDefBase)
    virtual bool ADDIN_API AddError(unsigned short code, const WCHAR_T* source,
                                    const WCHAR_T* description, long scode) = 0;
    virtual bool ADDIN_API Read(WCHAR_T* name, tVariant* value, long* errorCode, WCHAR_T** errorText) = 0;
    virtual bool ADDIN_API Write(WCHAR_T* name, tVariant* value) = 0;
    virtual bool ADDIN_API RegisterProfileAs(WCHAR_T* name) = 0;
    virtual bool ADDIN_API SetEventBufferDepth(long depth) = 0;
    virtual long ADDIN_API GetEventBufferDepth() = 0;
    virtual bool ADDIN_API ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0;
    virtual void ADDIN_API CleanEventBuffer() = 0;
    virtual bool ADDIN_API SetStatusLine(WCHAR_T* text) = 0;
    virtual void ADDIN_API ResetStatusLine() = 0;
};

// Implemented by the component.
class IInitDoneBase {
public:
    ADDIN_DESTRUCTOR_SLOT(IInitDoneBase)
    virtual bool ADDIN_API Init(void* connection) = 0;
    virtual bool ADDIN_API setMemManager(void* memoryManager) = 0;
    virtual long ADDIN_API GetInfo() = 0;
    virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase {
public:
    ADDIN_DESTRUCTOR_SLOT(ILanguageExtenderBase)
    virtual bool ADDIN_API RegisterExtensionAs(WCHAR_T** name) = 0;
    virtual long ADDIN_API GetNProps() = 0;
    virtual long ADDIN_API FindProp(const WCHAR_T* name) = 0;
    virtual const WCHAR_T* ADDIN_API GetPropName(long number, long alias) = 0;
    virtual bool ADDIN_API GetPropVal(const long number, tVariant* value) = 0;
    virtual bool ADDIN_API SetPropVal(const long number, tVariant* value) = 0;
    virtual bool ADDIN_API IsPropReadable(const long number) = 0;
    virtual bool ADDIN_API IsPropWritable(const long number) = 0;
    virtual long ADDIN_API GetNMethods() = 0;
    virtual long ADDIN_API FindMethod(const WCHAR_T* name) = 0;
    virtual const WCHAR_T* ADDIN_API GetMethodName(const long number, const long alias) = 0;
    virtual long ADDIN_API GetNParams(const long number) = 0;
    virtual bool ADDIN_API GetParamDefValue(const long method, const long param, tVariant* value) = 0;
    virtual bool ADDIN_API HasRetVal(const long method) = 0;
    virtual bool ADDIN_API CallAsProc(const long method, tVariant* params, const long count) = 0;
    virtual bool ADDIN_API CallAsFunc(const long method, tVariant* result, tVariant* params,
                                      const long count) = 0;
};

class LocaleBase {
public:
    ADDIN_DESTRUCTOR_SLOT(LocaleBase)
    virtual void ADDIN_API SetLocale(const WCHAR_T* locale) = 0;
};

// What GetClassObject hands the host; the host reaches the second and third
// bases by the usual pointer adjustment.
class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {
public:
    ADDIN_DESTRUCTOR_SLOT(IComponentBase)
};

#ifndef _WIN32
static_assert(sizeof(IComponentBase) == 3 * sizeof(void*), "three interface pointers, no data");
#endif

}  // namespace BaseNativeAPI
}  // namespace AddIn1C
