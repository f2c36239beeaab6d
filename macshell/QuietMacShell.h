#pragma once

#include "macshell/MacShellPort.h"

namespace orvan {

// The desktop integration before the tray companion exists: badges and recording state are
// accepted and have nowhere to show yet.
class QuietMacShell final : public MacShellPort {
public:
    void applyBadges(const nlohmann::json&) override {}
    void recordingStarted() override {}
    void setPaused(bool) override {}
    void recordingEnded() override {}
};

}  // namespace orvan
