#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "platform/MainLoop.h"

namespace orvan::testing {

// A main loop that runs only when the test says so.
class FakeMainLoop final : public MainLoop {
public:
    void post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }

    // Runs tasks, including ones posted meanwhile, until none is left. Returns how many ran.
    int runUntilIdle() {
        int ran = 0;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) return ran;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
            ++ran;
        }
    }

    std::size_t pending() {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace orvan::testing
