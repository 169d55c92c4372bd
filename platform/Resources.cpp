#include "platform/Resources.h"

#include <algorithm>
#include <mutex>

namespace orvo {
namespace {

struct Registration {
    const void* owner;
    std::vector<DialogTemplate> templates;
};

// Libraries load and unload on whatever thread calls dlopen, so the chain takes a lock.
struct Registry {
    std::mutex mutex;
    std::vector<Registration> chain; // oldest first
};

Registry& registry() {
    static Registry* instance = new Registry; // never destroyed: libraries may unload during exit
    return *instance;
}

} // namespace

void RegisterDialogTemplates(const void* owner, std::vector<DialogTemplate> templates) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    std::erase_if(r.chain, [owner](const Registration& entry) { return entry.owner == owner; });
    r.chain.push_back(Registration{owner, std::move(templates)});
}

void UnregisterDialogTemplates(const void* owner) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    std::erase_if(r.chain, [owner](const Registration& entry) { return entry.owner == owner; });
}

std::optional<DialogTemplate> FindDialogTemplate(UINT id) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    for (auto entry = r.chain.rbegin(); entry != r.chain.rend(); ++entry)
        for (const DialogTemplate& candidate : entry->templates)
            if (candidate.id == id)
                return candidate;
    return std::nullopt;
}

int RegisteredTemplateOwners() {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return static_cast<int>(r.chain.size());
}

} // namespace orvo

const DialogControlTemplate* DialogTemplate::FindControl(int controlId) const {
    const auto it = std::find_if(controls.begin(), controls.end(),
                                 [controlId](const DialogControlTemplate& c) { return c.id == controlId; });
    return it == controls.end() ? nullptr : &*it;
}
