#pragma once

#include "platform/UpdatePorts.h"

namespace orvan {

// One-shot timers on the GLib main loop, at second granularity (the system may batch them).
class GLibMainLoopTimers final : public MainLoopTimers {
public:
    std::shared_ptr<void> after(std::chrono::seconds delay, std::function<void()> task) override;
};

}  // namespace orvan
