#include "linux/glib/GLibMainTimers.h"

#include <glib.h>

namespace orvan {
namespace {

struct Firing {
    std::function<void()> fire;
    bool repeats;
};

gboolean onTimeout(gpointer data) {
    auto* firing = static_cast<Firing*>(data);
    const bool repeats = firing->repeats;
    auto fire = firing->fire;  // the handler may destroy the handle, and with it `firing`
    fire();
    return repeats ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// Owns one reference to the source; destroying a source that already ran out is harmless.
class GLibTimer final : public MainTimer {
public:
    explicit GLibTimer(GSource* source) : source_(source) {}
    ~GLibTimer() override {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    GLibTimer(const GLibTimer&) = delete;
    GLibTimer& operator=(const GLibTimer&) = delete;

private:
    GSource* source_;
};

}  // namespace

std::unique_ptr<MainTimer> GLibMainTimers::schedule(std::chrono::milliseconds delay, bool repeats,
                                                    std::function<void()> fire) {
    GSource* source = g_timeout_source_new(static_cast<guint>(delay.count()));
    g_source_set_callback(source, onTimeout, new Firing{std::move(fire), repeats},
                          [](gpointer data) { delete static_cast<Firing*>(data); });
    g_source_attach(source, nullptr);
    return std::make_unique<GLibTimer>(source);
}

}  // namespace orvan
