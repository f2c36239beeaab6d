// Kept out of the shared header: the X headers' macros (Bool, None, Status) clash with GoogleTest's.
#include "tests/integration/GtkTestSupport.h"

#include <gdk/gdkx.h>

namespace orvan::testing {

bool activate(GtkWindow* window, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        gtk_window_present(window);
        GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
        if (surface != nullptr && GDK_IS_X11_WINDOW(surface)) gdk_window_focus(surface, gdk_x11_get_server_time(surface));
        if (runUntil([&] { return gtk_window_is_active(window) == TRUE; }, std::chrono::milliseconds(200))) return true;
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

}  // namespace orvan::testing
