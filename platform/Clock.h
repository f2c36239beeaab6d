#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orvan {

// Monotonic time for serial queues and their timers. Tests replace it with a clock they move by hand,
// so a recording of many minutes runs without sleeping.
class Clock {
public:
    using Time = std::chrono::nanoseconds;  // since an arbitrary, fixed origin

    virtual ~Clock() = default;
    virtual Time now() const = 0;
    // With `lock` held: waits on `condition` until it is notified or the clock reaches `deadline`.
    // May return early (spuriously); callers re-check.
    virtual void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, Time deadline) = 0;
};

// The machine's monotonic clock.
class SteadyClock final : public Clock {
public:
    Time now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
    void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, Time deadline) override {
        condition.wait_until(lock, std::chrono::steady_clock::time_point(
                                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline)));
    }
};

}  // namespace orvan
