#include "linux/gtk/GtkPrivacySettings.h"

#include <gio/gdesktopappinfo.h>
#include <gtk/gtk.h>

#include <string>

#include "platform/SystemLog.h"

namespace orvan {

void openPrivacySettings() {
    // GNOME's settings name each panel in a desktop file of its own; the privacy panel came first,
    // later versions split the microphone and screen pages out of it.
    for (const char* id : {"gnome-privacy-panel.desktop", "gnome-microphone-panel.desktop"}) {
        GDesktopAppInfo* info = g_desktop_app_info_new(id);
        if (info == nullptr) continue;
        GdkDisplay* display = gdk_display_get_default();
        GdkAppLaunchContext* context = display ? gdk_display_get_app_launch_context(display) : nullptr;
        GError* error = nullptr;
        const bool launched = g_app_info_launch(G_APP_INFO(info), nullptr,
                                                context ? G_APP_LAUNCH_CONTEXT(context) : nullptr, &error) != FALSE;
        if (!launched) {
            systemLog(std::string("Kestrin: プライバシー設定を開けません: ") + (error ? error->message : id));
            g_clear_error(&error);
        }
        if (context) g_object_unref(context);
        g_object_unref(info);
        return;
    }
    systemLog("Kestrin: この環境にはプライバシー設定の画面がありません");
}

}  // namespace orvan
