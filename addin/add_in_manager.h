// AddInManager: the process's registry of creatable component classes, and
// the creators that make (once) and destroy each class's one object.
#pragma once

#include <map>
#include <string>

#include "addin/native_api.h"
#include "addin/variant.h"

namespace AddIn1C {

using BaseNativeAPI::IComponentBase;

class AbstractObjectCreator {
public:
    virtual ~AbstractObjectCreator() = default;
    // The class's one object, made on the first request.
    virtual IComponentBase* create() = 0;
    // Destroys `object` through its concrete type when it is this creator's
    // live object, so that the next create() makes a fresh one; false when
    // the object is not this creator's.
    virtual bool release(IComponentBase* object) = 0;
};

template <class T>
class ConcreteObjectCreator : public AbstractObjectCreator {
public:
    ConcreteObjectCreator() = default;
    ConcreteObjectCreator(const ConcreteObjectCreator&) = delete;
    ConcreteObjectCreator& operator=(const ConcreteObjectCreator&) = delete;
    ~ConcreteObjectCreator() override { delete instance; }

    IComponentBase* create() override {
        // While the object is being destroyed nobody may reach it or make a
        // replacement from inside its destructor.
        if (destroying)
            return nullptr;
        if (instance == nullptr)
            instance = new T();
        return instance;
    }

    bool release(IComponentBase* object) override {
        if (instance == nullptr || object != static_cast<IComponentBase*>(instance) || destroying)
            return false;
        destroying = true;
        delete instance;
        instance = nullptr;
        destroying = false;
        return true;
    }

private:
    T* instance = nullptr;
    bool destroying = false;
};

// Used on the host's thread: the exported functions and the reader objects
// created by host calls reach it.
class AddInManager {
public:
    // The process-wide registry. It is never torn down: the host destroys the
    // objects it made with DestroyObject, and nothing runs against other
    // static objects while the process ends.
    static AddInManager& instance();

    AddInManager(const AddInManager&) = delete;
    AddInManager& operator=(const AddInManager&) = delete;

    bool ready() const { return !m_creators.empty(); }

    // Maps `name` to a new creator of T, once per process.
    template <class T>
    void registerObject(const std::wstring& name) {
        static bool registered = false;
        if (registered)
            return;
        registered = true;
        AbstractObjectCreator*& slot = m_creators[name];
        delete slot;
        slot = new ConcreteObjectCreator<T>();
    }

    // The registered names in ascending order joined by "|".
    std::wstring getClassNames() const;
    // The object of a registered class (made on first request); null for a
    // name that is not registered (names compare exactly).
    IComponentBase* getObject(const std::wstring& name);
    // Destroys an object that one of the creators made; false for any other
    // pointer, which is left alone.
    bool destroyObject(IComponentBase* object);

private:
    AddInManager() = default;
    ~AddInManager();

    std::map<std::wstring, AbstractObjectCreator*> m_creators;
};

// Registers the library's component classes (driver/tarvel60x.cpp).
void InitAddIns(AddInManager& manager);

}  // namespace AddIn1C
