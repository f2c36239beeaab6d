#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvan::testing {

// What under `root` (not `root` itself) is not 0700 for a directory or 0600 for a file; links aside.
inline std::vector<std::string> notPrivate(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto status = entry.symlink_status();
        const auto mode = status.permissions() & fs::perms::mask;
        if (!fs::is_symlink(status) && mode != fs::perms(fs::is_directory(status) ? 0700 : 0600)) found.push_back(entry.path());
    }
    return found;
}

}  // namespace orvan::testing
