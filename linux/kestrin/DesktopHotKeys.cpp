#include "linux/kestrin/DesktopHotKeys.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif
#include <gio/gio.h>

#include "linux/dbus/PortalGlobalShortcuts.h"
#include "linux/x11/X11GlobalHotKeys.h"

namespace orvan {

std::shared_ptr<GlobalHotKeys> desktopHotKeys() {
#ifdef GDK_WINDOWING_X11
    // GTK talks to an X server (an X11 session, or XWayland when asked for): key grabs work there.
    GdkDisplay* display = gdk_display_get_default();
    if (display != nullptr && GDK_IS_X11_DISPLAY(display)) {
        return std::make_shared<X11GlobalHotKeys>(gdk_display_get_name(display));
    }
#endif
    // A Wayland display (or none): no client may grab keys, the desktop portal binds them.
    return std::make_shared<PortalGlobalShortcuts>(
        GObjectPtr<GDBusConnection>::take(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)),
        "トモリバのウインドウを表示/隠す");
}

}  // namespace orvan
