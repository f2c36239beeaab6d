#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace orvan {

// A timer on the main loop; destroying the handle cancels it.
class MainTimer {
public:
    virtual ~MainTimer() = default;
};

// Timers that fire on the main loop. Tests replace them with ones moved by hand.
class MainTimers {
public:
    virtual ~MainTimers() = default;
    // Fires once after `delay`, or every `delay` when `repeats`, until the handle is destroyed.
    virtual std::unique_ptr<MainTimer> schedule(std::chrono::milliseconds delay, bool repeats,
                                                std::function<void()> fire) = 0;
};

}  // namespace orvan
