#include "linux/proc/ProcRunningProcesses.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace orvan {

namespace {

// The kernel keeps at most 15 bytes of a command name.
constexpr std::size_t kCommandNameLimit = 15;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Reads a small /proc file whole; nothing when it cannot be opened (the process is gone).
std::optional<std::string> readSmallFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[4096];
    const ssize_t size = read(fd, buffer, sizeof buffer);
    close(fd);
    if (size < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(size));
}

std::string_view baseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The 22nd field of stat: when the process started, which tells a reused pid from the same process.
unsigned long long startTime(std::string_view afterCommand) {
    std::size_t at = 0;
    for (int field = 3; field < 22 && at != std::string_view::npos; ++field) at = afterCommand.find(' ', at + 1);
    unsigned long long value = 0;
    if (at != std::string_view::npos)
        std::from_chars(afterCommand.data() + at + 1, afterCommand.data() + afterCommand.size(), value);
    return value;
}

// One process, or nothing when it vanished while being read. The names it had in the last listing
// are kept as long as it is the same process with the same command name (no exec since).
// Paths, not a directory descriptor per process: one system call less each.
std::optional<RunningProcess> readProcess(const std::string& folder, int pid,
                                          const std::unordered_map<int, ProcRunningProcesses::Seen>& before,
                                          ProcRunningProcesses::Seen& seen) {
    // "pid (comm) state ppid …"; the command name may itself hold parentheses.
    const std::optional<std::string> stat = readSmallFile(folder + "stat");
    if (!stat) return std::nullopt;
    const std::size_t open = stat->find('(');
    const std::size_t close = stat->rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    RunningProcess process;
    process.processId = pid;
    process.name = stat->substr(open + 1, close - open - 1);
    const std::string_view rest = std::string_view(*stat).substr(close + 1);
    if (rest.size() > 3) {
        const std::string_view ppid = rest.substr(3);
        std::from_chars(ppid.data(), ppid.data() + ppid.size(), process.parentId);
    }
    seen.commandName = process.name;
    seen.startTime = startTime(rest);
    if (auto known = before.find(pid);
        known != before.end() && known->second.startTime == seen.startTime && known->second.commandName == seen.commandName) {
        process.name = known->second.name;
        process.executableName = known->second.executableName;
        return process;
    }

    if (process.name.size() >= kCommandNameLimit) {
        const std::optional<std::string> cmdline = readSmallFile(folder + "cmdline");
        if (!cmdline) return std::nullopt;
        // Its first argument goes on where the command name was cut.
        const std::string_view first = baseName(std::string_view(cmdline->c_str()));
        if (first.starts_with(process.name)) process.name = first;
        // In the middle of an exec the new command name is already set, its arguments not yet:
        // keeping the cut name would hide a long-named meeting client for the rest of its life.
        if (first.empty()) seen.commandName.clear();
    }

    // Kernel threads (children of kthreadd, pid 2) have no executable.
    if (pid == 2 || process.parentId == 2) return process;

    char target[4096];
    const ssize_t size = readlink((folder + "exe").c_str(), target, sizeof target);
    if (size > 0) {
        std::string_view executable(target, static_cast<std::size_t>(size));
        constexpr std::string_view kDeleted = " (deleted)";
        if (executable.ends_with(kDeleted)) executable.remove_suffix(kDeleted.size());
        process.executableName = baseName(executable);
    } else if (errno == ENOENT && access((folder + "stat").c_str(), F_OK) != 0) {
        return std::nullopt;
    }
    // Other users' processes (EACCES) and kernel threads (no executable) keep their name only.
    return process;
}

}  // namespace

std::vector<RunningProcess> ProcRunningProcesses::list() {
    std::vector<RunningProcess> processes;
    std::unique_ptr<DIR, DirCloser> dir(opendir(proc_.c_str()));
    if (!dir) return processes;
    std::string folder;
    std::unordered_map<int, Seen> seen;
    seen.reserve(seen_.size());
    while (dirent* entry = readdir(dir.get())) {
        int pid = 0;
        const std::string_view name = entry->d_name;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || end != name.data() + name.size() || pid <= 0) continue;
        folder.assign(proc_.native()).append("/").append(name).append("/");
        Seen current;
        if (auto process = readProcess(folder, pid, seen_, current)) {
            current.name = process->name;
            current.executableName = process->executableName;
            seen.emplace(pid, std::move(current));
            processes.push_back(std::move(*process));
        }
    }
    seen_ = std::move(seen);
    return processes;
}

}  // namespace orvan
