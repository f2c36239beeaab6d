#pragma once

#include <nlohmann/json.hpp>

namespace orvan {

// What the page bridge tells the desktop integration (tray, badges, meeting popup).
class MacShellPort {
public:
    virtual ~MacShellPort() = default;
    // The counts object of "/api/badges", as the page sent it.
    virtual void applyBadges(const nlohmann::json& counts) = 0;
    virtual void recordingStarted() = 0;
    virtual void setPaused(bool paused) = 0;
    virtual void recordingEnded() = 0;
};

}  // namespace orvan
