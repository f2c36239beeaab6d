#include "linux/glib/GLibMainLoopTimers.h"

#include <glib.h>

namespace orvan {
namespace {

struct Timer {
    ~Timer() {
        if (source != 0) g_source_remove(source);
    }
    std::function<void()> task;
    guint source = 0;
};

}  // namespace

std::shared_ptr<void> GLibMainLoopTimers::after(std::chrono::seconds delay, std::function<void()> task) {
    auto timer = std::make_shared<Timer>();
    timer->task = std::move(task);
    // The handle owns the timer; its destruction removes the source, so `data` is valid when it fires.
    timer->source = g_timeout_add_seconds(static_cast<guint>(delay.count()), +[](gpointer data) -> gboolean {
        auto* fired = static_cast<Timer*>(data);
        fired->source = 0;
        auto run = fired->task;  // the task may destroy its own timer
        run();
        return G_SOURCE_REMOVE;
    }, timer.get());
    return timer;
}

}  // namespace orvan
