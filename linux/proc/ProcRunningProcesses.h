#pragma once

#include <filesystem>

#include "platform/MeetingSources.h"

namespace orvan {

// The running processes from /proc: each one's name (its command name, or the base name of its first
// argument when the kernel cut the command name short) and the base name of its executable.
class ProcRunningProcesses final : public RunningProcesses {
public:
    explicit ProcRunningProcesses(std::filesystem::path proc = "/proc") : proc_(std::move(proc)) {}
    std::vector<RunningProcess> list() override;

private:
    std::filesystem::path proc_;
};

}  // namespace orvan
