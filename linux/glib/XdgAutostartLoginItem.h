#pragma once

#include <string>

#include "platform/LoginItem.h"

namespace orvan {

// Launch at login as an XDG autostart entry: "<desktop id>" in $XDG_CONFIG_HOME/autostart.
class XdgAutostartLoginItem final : public LoginItem {
public:
    explicit XdgAutostartLoginItem(std::string desktopId) : desktopId_(std::move(desktopId)) {}
    bool enabled() override;

private:
    std::string desktopId_;
};

}  // namespace orvan
