#pragma once

#include <functional>

namespace orvan {

// The main loop: everything in the UI, web view host and shell runs on it.
class MainLoop {
public:
    virtual ~MainLoop() = default;
    // Runs `task` on the main loop later, in posting order. Safe from any thread.
    virtual void post(std::function<void()> task) = 0;
};

}  // namespace orvan
