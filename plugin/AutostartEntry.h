#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvan {

// An XDG autostart entry (a desktop entry in the user's autostart folder), as far as launching at
// login depends on it.
struct AutostartEntry {
    static constexpr const char* kName = "OrvanOffice";

    std::string type;                   // "Type"
    bool hidden = false;                // "Hidden": the user removed it
    std::optional<bool> gnomeEnabled;   // "X-GNOME-Autostart-enabled"
    std::vector<std::string> command;   // "Exec", split into its words

    // On exactly when the entry exists, is not switched off and starts this installation.
    static bool startsAtLogin(const std::optional<AutostartEntry>& entry, const std::filesystem::path& executable);
    // The "Exec" value that starts `executable`, quoted by the desktop-entry rules.
    static std::string execFor(const std::filesystem::path& executable);
};

}  // namespace orvan
