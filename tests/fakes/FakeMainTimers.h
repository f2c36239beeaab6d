#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/MainTimers.h"

namespace orvan::testing {

// Main-loop timers on a clock that only the test moves.
class FakeMainTimers final : public MainTimers {
public:
    std::unique_ptr<MainTimer> schedule(std::chrono::milliseconds delay, bool repeats,
                                        std::function<void()> fire) override {
        auto entry = std::make_shared<Entry>(Entry{now_ + delay, repeats ? delay : std::chrono::milliseconds(0),
                                                   std::move(fire), false});
        entries_.push_back(entry);
        return std::make_unique<Handle>(entry);
    }

    // Moves the clock, firing every due timer in deadline order.
    void advance(std::chrono::milliseconds by) {
        const auto until = now_ + by;
        for (;;) {
            std::shared_ptr<Entry> due;
            for (const auto& entry : entries_)
                if (!entry->cancelled && entry->deadline <= until && (!due || entry->deadline < due->deadline))
                    due = entry;
            if (!due) break;
            now_ = due->deadline;
            if (due->interval.count() > 0) due->deadline += due->interval;
            else due->cancelled = true;
            auto fire = due->fire;  // the handler may cancel its own timer
            fire();
        }
        now_ = until;
        std::erase_if(entries_, [](const auto& entry) { return entry->cancelled; });
    }

private:
    struct Entry {
        std::chrono::milliseconds deadline;
        std::chrono::milliseconds interval;
        std::function<void()> fire;
        bool cancelled;
    };
    struct Handle final : MainTimer {
        explicit Handle(std::shared_ptr<Entry> made) : entry(std::move(made)) {}
        ~Handle() override { entry->cancelled = true; }
        std::shared_ptr<Entry> entry;
    };
    std::chrono::milliseconds now_{0};
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace orvan::testing
