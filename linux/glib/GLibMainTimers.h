#pragma once

#include "platform/MainTimers.h"

namespace orvan {

// Main-loop timers as GLib timeout sources on the default main context.
class GLibMainTimers final : public MainTimers {
public:
    std::unique_ptr<MainTimer> schedule(std::chrono::milliseconds delay, bool repeats,
                                        std::function<void()> fire) override;
};

}  // namespace orvan
