#include "linux/glib/InstalledCommand.h"

#include <system_error>

namespace orvan {

std::filesystem::path installedCommand(const std::filesystem::path& executable, std::string_view searchPath) {
    const auto name = executable.filename();
    while (!searchPath.empty()) {
        const auto colon = searchPath.find(':');
        const std::filesystem::path folder(searchPath.substr(0, colon));
        searchPath = colon == std::string_view::npos ? std::string_view() : searchPath.substr(colon + 1);
        // A relative entry depends on the working directory of whoever starts the command.
        if (!folder.is_absolute()) continue;
        const auto candidate = folder / name;
        std::error_code error;
        if (std::filesystem::equivalent(candidate, executable, error)) return candidate.lexically_normal();
    }
    return executable;
}

}  // namespace orvan
