// The library's three exported entry points: the host lists the component
// classes, gets a class's object and destroys it.
#include "addin/add_in_manager.h"
#include "addin/native_api.h"
#include "addin/variant.h"

using AddIn1C::AddInManager;
using AddIn1C::BaseNativeAPI::IComponentBase;
using AddIn1C::BaseNativeAPI::WCHAR_T;

namespace {

AddInManager& readyManager() {
    AddInManager& manager = AddInManager::instance();
    if (!manager.ready())
        AddIn1C::InitAddIns(manager);
    return manager;
}

}  // namespace

#define T60_EXPORT extern "C" __attribute__((visibility("default")))

// The class names joined by "|", in a buffer that the next call overwrites.
T60_EXPORT const WCHAR_T* GetClassNames() {
    static AddIn1C::PlatformString names;
    try {
        names = AddIn1C::convertWStringToPlatform(readyManager().getClassNames());
    } catch (...) {
        names.clear();
    }
    return names.c_str();
}

// The object of class `name` as a non-zero value, stored in *out; 0 when *out
// is already set, the name is unknown, or the object cannot be made.
T60_EXPORT long GetClassObject(const WCHAR_T* name, IComponentBase** out) {
    if (out == nullptr || *out != nullptr || name == nullptr)
        return 0;
    try {
        IComponentBase* object = readyManager().getObject(AddIn1C::convertPlatformToWString(name));
        *out = object;
        return reinterpret_cast<long>(object);
    } catch (...) {
        return 0;
    }
}

// Destroys an object made by GetClassObject and clears *p; -1 when there is
// no object or it is not one this library handed out (already destroyed, or
// foreign), which is then left untouched.
T60_EXPORT long DestroyObject(IComponentBase** p) {
    if (p == nullptr || *p == nullptr)
        return -1;
    try {
        if (!AddInManager::instance().destroyObject(*p))
            return -1;
    } catch (...) {
    }
    *p = nullptr;
    return 0;
}
