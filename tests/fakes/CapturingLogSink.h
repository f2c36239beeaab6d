#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SystemLog.h"

namespace orvan::testing {

// Installs itself as the process's log sink for its lifetime and keeps every line.
class CapturingLogSink final : public LogSink, public std::enable_shared_from_this<CapturingLogSink> {
public:
    static std::shared_ptr<CapturingLogSink> install() {
        auto sink = std::make_shared<CapturingLogSink>();
        setLogSink(sink);
        return sink;
    }
    ~CapturingLogSink() override = default;

    void write(std::string_view line) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace orvan::testing
