#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/Clock.h"

namespace orvan {

// One worker thread with its own queue of work and timers: work runs one item at a time, in the order
// it was queued. Time comes from the given clock, so tests can move it by hand.
class SerialQueue {
public:
    // A repeating timer whose handler runs on the queue.
    class Timer {
    public:
        // Once this returns, the handler does not start again.
        void cancel() { cancelled_ = true; }
        bool cancelled() const { return cancelled_; }

    private:
        friend class SerialQueue;
        Timer(Clock::Time deadline, Clock::Time interval, std::function<void()> handler)
            : deadline_(deadline), interval_(interval), handler_(std::move(handler)) {}
        Clock::Time deadline_;
        Clock::Time interval_;
        std::function<void()> handler_;
        std::atomic<bool> cancelled_ = false;
    };

    SerialQueue(std::string label, std::shared_ptr<Clock> clock);
    // Runs the work already queued, then ends the worker. Timers do not fire any more.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    Clock& clock() const { return *clock_; }

    // Safe from any thread.
    void async(std::function<void()> work);

    // Runs `work` on the queue and waits for it; an exception it throws reaches the caller. Called on
    // the queue itself, it runs at once (waiting for itself would never end).
    template <typename Work>
    std::invoke_result_t<Work> sync(Work&& work) {
        using Result = std::invoke_result_t<Work>;
        if (isCurrent()) return work();
        if constexpr (std::is_void_v<Result>) {
            runAndWait([&] { work(); });
        } else {
            std::optional<Result> result;
            runAndWait([&] { result.emplace(work()); });
            return std::move(*result);
        }
    }

    // First run `firstDelay` from now, then every `interval` on a fixed grid: a late run does not move
    // the later ones, and runs missed while the queue was busy collapse into one.
    std::shared_ptr<Timer> scheduleRepeating(Clock::Time firstDelay, Clock::Time interval,
                                             std::function<void()> handler);

    bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }

private:
    void runAndWait(const std::function<void()>& work);
    void run();
    void runGuarded(const std::function<void()>& work);
    // With the lock held: the timer due first, if any is due now; drops cancelled timers.
    std::shared_ptr<Timer> takeDueTimer(Clock::Time now);

    std::string label_;
    std::shared_ptr<Clock> clock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
    std::vector<std::shared_ptr<Timer>> timers_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace orvan
