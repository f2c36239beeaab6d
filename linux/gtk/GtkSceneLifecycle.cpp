#include "linux/gtk/GtkSceneLifecycle.h"

#include "linux/gtk/GtkWindowTerms.h"

namespace orvan {

GtkSceneLifecycle::GtkSceneLifecycle(GtkApplication* application, Handler handler)
    : application_(application), handler_(std::move(handler)) {
    g_signal_connect(application_, "window-added", G_CALLBACK(&onWindowAdded), this);
    g_signal_connect(application_, "window-removed", G_CALLBACK(&onWindowRemoved), this);
    for (GList* item = gtk_application_get_windows(application_); item != nullptr; item = item->next) {
        follow(GTK_WINDOW(item->data));
    }
}

GtkSceneLifecycle::~GtkSceneLifecycle() {
    for (GList* item = gtk_application_get_windows(application_); item != nullptr; item = item->next) {
        g_signal_handlers_disconnect_by_data(item->data, this);
    }
    g_signal_handlers_disconnect_by_data(application_, this);
}

void GtkSceneLifecycle::onWindowAdded(GtkApplication*, GtkWindow* window, gpointer self) {
    static_cast<GtkSceneLifecycle*>(self)->follow(window);
}

void GtkSceneLifecycle::onWindowRemoved(GtkApplication*, GtkWindow* window, gpointer self) {
    g_signal_handlers_disconnect_by_data(window, self);
    static_cast<GtkSceneLifecycle*>(self)->update();
}

void GtkSceneLifecycle::follow(GtkWindow* window) {
    // After the default handlers, so the mapped and iconified states are already the new ones.
    const auto changed = G_CALLBACK(+[](GtkWidget*, gpointer self) { static_cast<GtkSceneLifecycle*>(self)->update(); });
    g_signal_connect_after(window, "map", changed, this);
    g_signal_connect_after(window, "unmap", changed, this);
    g_signal_connect_after(window, "window-state-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                               static_cast<GtkSceneLifecycle*>(self)->update();
                               return FALSE;
                           }),
                           this);
}

void GtkSceneLifecycle::update() {
    const bool foreground = hasShowingMainWindow(application_);
    if (foreground == foreground_) return;
    foreground_ = foreground;
    handler_(foreground);
}

}  // namespace orvan
