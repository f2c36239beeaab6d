#include "plugin/AutostartEntry.h"

#include <system_error>

namespace orvan {

bool AutostartEntry::startsAtLogin(const std::optional<AutostartEntry>& entry, const std::filesystem::path& executable) {
    if (!entry || entry->type != "Application" || entry->hidden || entry->gnomeEnabled == false) return false;
    if (entry->command.empty()) return false;
    // Only an absolute path names an installation; a bare name would be whatever $PATH finds.
    const std::filesystem::path program(entry->command.front());
    if (!program.is_absolute()) return false;
    if (program.lexically_normal() == executable.lexically_normal()) return true;
    std::error_code error;
    return std::filesystem::equivalent(program, executable, error);
}

std::string AutostartEntry::execFor(const std::filesystem::path& executable) {
    std::string quoted = "\"";
    for (char c : executable.string()) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace orvan
