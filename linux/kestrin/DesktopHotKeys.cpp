#include "linux/kestrin/DesktopHotKeys.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "linux/x11/X11GlobalHotKeys.h"

namespace orvan {
namespace {

// A Wayland session: global shortcuts would come from the desktop portal, which this build does
// not bind yet, so registration fails with kUnavailable and the companion runs without it.
class NoGlobalHotKeys final : public GlobalHotKeys {
public:
    HotKeyRegistration registerHotKey(const std::vector<std::string>&, Pressed) override {
        return {nullptr, kUnavailable};
    }
};

}  // namespace

std::shared_ptr<GlobalHotKeys> desktopHotKeys() {
#ifdef GDK_WINDOWING_X11
    GdkDisplay* display = gdk_display_get_default();
    if (display != nullptr && GDK_IS_X11_DISPLAY(display)) {
        return std::make_shared<X11GlobalHotKeys>(gdk_display_get_name(display));
    }
#endif
    return std::make_shared<NoGlobalHotKeys>();
}

}  // namespace orvan
