#include "linux/glib/GApplicationHolds.h"

#include <gio/gio.h>

namespace orvan {

ApplicationHolds::Hold GApplicationHolds::hold() {
    GApplication* application = g_application_get_default();
    if (application == nullptr) return nullptr;
    g_application_hold(application);
    g_object_ref(application);
    return Hold(application, [](void* held) {
        // A hold may be dropped on another thread; GApplication counts its holds on the main loop.
        g_main_context_invoke_full(
            nullptr, G_PRIORITY_DEFAULT,
            [](gpointer app) {
                g_application_release(G_APPLICATION(app));
                return G_SOURCE_REMOVE;
            },
            held, g_object_unref);
    });
}

}  // namespace orvan
