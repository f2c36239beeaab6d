#pragma once

#include <filesystem>
#include <string>

#include "platform/LoginItem.h"

namespace orvan {

// Launch at login as an XDG autostart entry: "<desktop id>" in $XDG_CONFIG_HOME/autostart whose
// command starts `executable`.
class XdgAutostartLoginItem final : public LoginItem {
public:
    XdgAutostartLoginItem(std::string desktopId, std::filesystem::path executable)
        : desktopId_(std::move(desktopId)), executable_(std::move(executable)) {}
    bool enabled() override;
    // Decided at once: a failure throws, `failed` is not used.
    void setEnabled(bool enabled, Failed failed) override;

private:
    std::string entryPath() const;

    std::string desktopId_;
    std::filesystem::path executable_;
};

}  // namespace orvan
