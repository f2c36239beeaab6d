#include "webhost/CoordinatorRegistry.h"

#include <algorithm>

namespace orvan {

void CoordinatorRegistry::add(const std::shared_ptr<Coordinator>& coordinator) {
    entries_.push_back(coordinator);
}

std::vector<std::shared_ptr<Coordinator>> CoordinatorRegistry::live() {
    std::erase_if(entries_, [](const auto& entry) { return entry.expired(); });
    std::vector<std::shared_ptr<Coordinator>> result;
    result.reserve(entries_.size());
    for (const auto& entry : entries_) {
        if (auto coordinator = entry.lock()) result.push_back(std::move(coordinator));
    }
    return result;
}

}  // namespace orvan
