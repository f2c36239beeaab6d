#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Clock.h"

namespace orvan::testing {

// A clock that moves only when the test moves it. Queues waiting for one of its deadlines are woken
// on every move and look again.
class ManualClock final : public Clock {
public:
    Time now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, Time deadline) override {
        {
            // Reading the time and registering happen together, so a move in between is not missed.
            std::lock_guard clockLock(mutex_);
            if (now_ >= deadline) return;
            waiters_.push_back({&condition, lock.mutex()});
        }
        condition.wait(lock);
        std::lock_guard clockLock(mutex_);
        std::erase_if(waiters_, [&](const Waiter& waiter) { return waiter.condition == &condition; });
    }

    void advance(Time by) {
        std::vector<Waiter> waiters;
        {
            std::lock_guard lock(mutex_);
            now_ += by;
            waiters = waiters_;
        }
        for (const auto& waiter : waiters) {
            // Taking the waiter's mutex means it is inside its wait, so the notification reaches it.
            std::lock_guard lock(*waiter.mutex);
            waiter.condition->notify_all();
        }
    }

private:
    struct Waiter {
        std::condition_variable* condition;
        std::mutex* mutex;
    };
    mutable std::mutex mutex_;
    Time now_ = std::chrono::hours(1);
    std::vector<Waiter> waiters_;
};

}  // namespace orvan::testing
