#include "platform/SerialQueue.h"

#include <algorithm>
#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

SerialQueue::SerialQueue(std::string label, std::shared_ptr<Clock> clock)
    : label_(std::move(label)), clock_(std::move(clock)) {
    worker_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void SerialQueue::async(std::function<void()> work) {
    // Notified under the lock: once unlocked, the work may run and its end may be the queue's own.
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
    wake_.notify_all();
}

void SerialQueue::runAndWait(const std::function<void()>& work) {
    std::mutex doneMutex;
    std::condition_variable doneCondition;
    bool done = false;
    std::exception_ptr failure;
    async([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneCondition.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneCondition.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
}

std::shared_ptr<SerialQueue::Timer> SerialQueue::scheduleRepeating(Clock::Time firstDelay, Clock::Time interval,
                                                                    std::function<void()> handler) {
    std::shared_ptr<Timer> timer(new Timer(clock_->now() + firstDelay, interval, std::move(handler)));
    std::lock_guard lock(mutex_);
    timers_.push_back(timer);
    wake_.notify_all();
    return timer;
}

std::shared_ptr<SerialQueue::Timer> SerialQueue::takeDueTimer(Clock::Time now) {
    std::erase_if(timers_, [](const auto& timer) { return timer->cancelled(); });
    const auto first = std::min_element(timers_.begin(), timers_.end(),
                                        [](const auto& a, const auto& b) { return a->deadline_ < b->deadline_; });
    if (first == timers_.end() || (*first)->deadline_ > now) return nullptr;
    auto timer = *first;
    Clock::Time next = timer->deadline_ + timer->interval_;
    if (timer->interval_ > Clock::Time::zero()) {
        while (next <= now) next += timer->interval_;
    }
    timer->deadline_ = next;
    return timer;
}

void SerialQueue::runGuarded(const std::function<void()>& work) {
    // Whatever a handler throws (a failing disk in a timer's work) is logged, never the process's end.
    try {
        work();
    } catch (const std::exception& error) {
        systemLog(label_ + ": " + error.what());
    } catch (...) {
        systemLog(label_ + ": unknown failure");
    }
}

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!stopping_) {
            if (auto timer = takeDueTimer(clock_->now())) {
                lock.unlock();
                if (!timer->cancelled()) runGuarded(timer->handler_);
                lock.lock();
                continue;
            }
        }
        if (!work_.empty()) {
            auto work = std::move(work_.front());
            work_.pop_front();
            lock.unlock();
            runGuarded(work);
            lock.lock();
            continue;
        }
        if (stopping_) return;
        if (timers_.empty()) {
            wake_.wait(lock);
        } else {
            const auto next = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
                return a->deadline_ < b->deadline_;
            });
            clock_->waitUntil(wake_, lock, (*next)->deadline_);
        }
    }
}

}  // namespace orvan
