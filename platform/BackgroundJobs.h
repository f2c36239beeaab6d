#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace orvan {

// Runs work that waits (joining segments, finishing left-overs) on threads of its own, so that
// neither the main loop nor a serial queue is held. Finished threads are reaped as new work comes;
// the destructor waits for the rest.
class BackgroundJobs {
public:
    BackgroundJobs() = default;
    ~BackgroundJobs();
    BackgroundJobs(const BackgroundJobs&) = delete;
    BackgroundJobs& operator=(const BackgroundJobs&) = delete;

    void run(std::function<void()> job);
    // Waits until every job has ended, including those that start meanwhile.
    void waitForAll();

private:
    struct Job {
        std::thread thread;
        std::shared_ptr<bool> finished;
    };
    void reapFinished();

    std::mutex mutex_;
    std::list<Job> jobs_;
};

}  // namespace orvan
