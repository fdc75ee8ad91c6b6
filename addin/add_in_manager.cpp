// The class registry: names of the creatable classes, their objects, and the
// destruction that lets a later request make a fresh object.
#include "addin/add_in_manager.h"

namespace AddIn1C {

AddInManager& AddInManager::instance() {
    static AddInManager* const manager = new AddInManager();
    return *manager;
}

AddInManager::~AddInManager() {
    for (auto& entry : m_creators)
        delete entry.second;
}

std::wstring AddInManager::getClassNames() const {
    std::wstring names;
    for (const auto& entry : m_creators) {
        if (!names.empty())
            names += L'|';
        names += entry.first;
    }
    return names;
}

IComponentBase* AddInManager::getObject(const std::wstring& name) {
    auto found = m_creators.find(name);
    return found == m_creators.end() ? nullptr : found->second->create();
}

bool AddInManager::destroyObject(IComponentBase* object) {
    for (auto& entry : m_creators)
        if (entry.second->release(object))
            return true;
    return false;
}

}  // namespace AddIn1C
