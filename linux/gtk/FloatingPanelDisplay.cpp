#include "linux/gtk/FloatingPanelDisplay.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace orvan {

GdkDisplay* floatingPanelDisplay() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return nullptr;
#ifdef GDK_WINDOWING_X11
    if (GDK_IS_X11_DISPLAY(display)) return display;
    // Opened once and kept for the life of the process, like the default display.
    static GdkDisplay* const xwayland = []() -> GdkDisplay* {
        const char* name = g_getenv("DISPLAY");
        if (name == nullptr || *name == '\0') return nullptr;
        GdkDisplay* opened = gdk_display_open(name);
        if (opened != nullptr && !GDK_IS_X11_DISPLAY(opened)) {
            gdk_display_close(opened);
            return nullptr;
        }
        return opened;
    }();
    return xwayland;
#else
    return nullptr;
#endif
}

}  // namespace orvan
