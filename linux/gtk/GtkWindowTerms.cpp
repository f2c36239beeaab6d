#include "linux/gtk/GtkWindowTerms.h"

namespace orvan {

bool canBecomeMain(GtkWindow* window) {
    return gtk_window_get_transient_for(window) == nullptr &&
           gtk_window_get_type_hint(window) == GDK_WINDOW_TYPE_HINT_NORMAL;
}

bool isShowing(GtkWindow* window) {
    if (!gtk_widget_get_mapped(GTK_WIDGET(window))) return false;
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
    return surface == nullptr || (gdk_window_get_state(surface) & GDK_WINDOW_STATE_ICONIFIED) == 0;
}

bool hasShowingMainWindow(GtkApplication* application) {
    if (application == nullptr) return false;
    for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (canBecomeMain(window) && isShowing(window)) return true;
    }
    return false;
}

}  // namespace orvan
