#include "platform/BackgroundJobs.h"

#include <exception>
#include <string>
#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

BackgroundJobs::~BackgroundJobs() { waitForAll(); }

void BackgroundJobs::waitForAll() {
    for (;;) {
        std::list<Job> jobs;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty()) return;
            jobs = std::move(jobs_);
            jobs_.clear();
        }
        for (auto& job : jobs) {
            // A job that ends up here (its work dropped the last owner) cannot wait for itself.
            if (job.thread.get_id() == std::this_thread::get_id()) {
                job.thread.detach();
            } else {
                job.thread.join();
            }
        }
    }
}

void BackgroundJobs::run(std::function<void()> job) {
    reapFinished();
    auto finished = std::make_shared<bool>(false);
    std::lock_guard lock(mutex_);
    // The flag is written under the same mutex that reaping reads it with.
    jobs_.push_back(Job{std::thread([this, job = std::move(job), finished] {
                            // A job reports its own failures; one that throws anyway must not end
                            // the process.
                            try {
                                job();
                            } catch (const std::exception& error) {
                                systemLog(std::string("background job failed: ") + error.what());
                            }
                            std::lock_guard done(mutex_);
                            *finished = true;
                        }),
                        finished});
}

void BackgroundJobs::reapFinished() {
    std::list<Job> done;
    {
        std::lock_guard lock(mutex_);
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            if (*it->finished) {
                done.splice(done.end(), jobs_, it++);
            } else {
                ++it;
            }
        }
    }
    for (auto& job : done) job.thread.join();
}

}  // namespace orvan
