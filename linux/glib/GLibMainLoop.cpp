#include "linux/glib/GLibMainLoop.h"

#include <utility>

namespace orvan {

GLibMainLoop::~GLibMainLoop() {
    std::lock_guard lock(mutex_);
    if (sourceId_ != 0) g_source_remove(sourceId_);
}

void GLibMainLoop::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (sourceId_ == 0) {
        GSource* source = g_idle_source_new();
        g_source_set_priority(source, G_PRIORITY_DEFAULT);
        g_source_set_callback(source, &GLibMainLoop::drain, this, nullptr);
        sourceId_ = g_source_attach(source, g_main_context_default());
        g_source_unref(source);
    }
}

gboolean GLibMainLoop::drain(gpointer data) {
    auto* self = static_cast<GLibMainLoop*>(data);
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(self->mutex_);
        batch.swap(self->tasks_);
    }
    // Tasks posted while this batch runs wait for the next dispatch.
    for (auto& task : batch) task();
    std::lock_guard lock(self->mutex_);
    if (!self->tasks_.empty()) return G_SOURCE_CONTINUE;
    self->sourceId_ = 0;
    return G_SOURCE_REMOVE;
}

}  // namespace orvan
