#pragma once

#include <mutex>
#include <vector>

#include "platform/MeetingSources.h"

namespace orvan::testing {

// What the meeting watch reads, set by the test; read on the watch queue.
template <typename Port, typename Snapshot>
class FakeSource final : public Port {
public:
    Snapshot list() override {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(Snapshot value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

private:
    std::mutex mutex_;
    Snapshot value_{};
};

using FakeRunningProcesses = FakeSource<RunningProcesses, std::vector<RunningProcess>>;
using FakeWindowList = FakeSource<WindowList, DesktopWindows>;
using FakeRecordingStreams = FakeSource<RecordingStreams, std::vector<RecordingStream>>;

}  // namespace orvan::testing
