#pragma once

#include <memory>
#include <vector>

namespace orvan {

class Coordinator;

// Weak references to every coordinator whose web view exists, in the order they were added.
class CoordinatorRegistry {
public:
    void add(const std::shared_ptr<Coordinator>& coordinator);
    // The live coordinators, in registry order; forgets the freed ones.
    std::vector<std::shared_ptr<Coordinator>> live();

private:
    std::vector<std::weak_ptr<Coordinator>> entries_;
};

}  // namespace orvan
