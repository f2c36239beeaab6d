#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>

#include "platform/MeetingSources.h"

namespace orvan {

// The running processes from /proc: each one's name (its command name, or the base name of its first
// argument when the kernel cut the command name short) and the base name of its executable.
// Names are read again only for processes that are new or have run another program since the
// last listing. One listing at a time.
class ProcRunningProcesses final : public RunningProcesses {
public:
    struct Seen {
        std::string commandName;
        unsigned long long startTime = 0;
        std::string name;
        std::string executableName;
    };

    explicit ProcRunningProcesses(std::filesystem::path proc = "/proc") : proc_(std::move(proc)) {}
    std::vector<RunningProcess> list() override;

private:
    std::filesystem::path proc_;
    std::unordered_map<int, Seen> seen_;
};

}  // namespace orvan
