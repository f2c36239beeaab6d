#include "linux/gtk/GtkApplicationActivator.h"

namespace orvan {

void GtkApplicationActivator::bringToFront(const std::string& activationToken) {
    GtkWindow* window = gtk_application_get_active_window(application_);
    if (window == nullptr) {
        GList* windows = gtk_application_get_windows(application_);
        window = windows != nullptr ? GTK_WINDOW(windows->data) : nullptr;
    }
    if (window == nullptr) {
        g_application_activate(G_APPLICATION(application_));
        return;
    }
    // The token from the notification server lets the desktop grant the focus change.
    if (!activationToken.empty()) gtk_window_set_startup_id(window, activationToken.c_str());
    gtk_window_present(window);
}

}  // namespace orvan
