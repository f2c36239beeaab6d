#pragma once

#include <chrono>
#include <functional>

#include "platform/BackgroundJobs.h"
#include "platform/RecordPermission.h"

namespace orvan {

// The sound server stands in for the permission: granted when it lets us in and has a default capture
// source. With no microphone the server quietly offers the monitor of an output as the default
// source: the system audio is still recorded then, without a microphone.
class PulseRecordPermission final : public RecordPermission {
public:
    explicit PulseRecordPermission(std::chrono::milliseconds timeout = std::chrono::seconds(5)) : timeout_(timeout) {}

    // Answers on a thread of its own.
    void request(std::function<void(bool)> answer) override;

private:
    std::chrono::milliseconds timeout_;
    BackgroundJobs jobs_;
};

}  // namespace orvan
