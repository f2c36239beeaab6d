#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include <glib.h>

#include "platform/MainLoop.h"

namespace orvan {

// Posts tasks to the default GMainContext through one idle source, so they run in posting order.
class GLibMainLoop final : public MainLoop {
public:
    GLibMainLoop() = default;
    ~GLibMainLoop() override;
    GLibMainLoop(const GLibMainLoop&) = delete;
    GLibMainLoop& operator=(const GLibMainLoop&) = delete;

    void post(std::function<void()> task) override;

private:
    static gboolean drain(gpointer self);

    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    guint sourceId_ = 0;
};

}  // namespace orvan
