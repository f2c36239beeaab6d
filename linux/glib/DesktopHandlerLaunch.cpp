#include "linux/glib/DesktopHandlerLaunch.h"

#include <gio/gdesktopappinfo.h>
#include <sys/stat.h>

#include <memory>

#include "platform/PrivateFiles.h"

namespace orvan {
namespace {

// In the child, between fork and exec: nothing but async-signal-safe calls.
void restoreUmask(gpointer mask) { ::umask(*static_cast<const mode_t*>(mask)); }

}  // namespace

GObjectPtr<GAppInfo> defaultHandler(const std::string& uri) {
    std::unique_ptr<char, GFreeDeleter> scheme(g_uri_parse_scheme(uri.c_str()));
    GAppInfo* handler = scheme != nullptr ? g_app_info_get_default_for_uri_scheme(scheme.get()) : nullptr;
    if (handler == nullptr) {
        const auto file = GObjectPtr<GFile>::take(g_file_new_for_uri(uri.c_str()));
        handler = g_file_query_default_handler(file.get(), nullptr, nullptr);
    }
    return GObjectPtr<GAppInfo>::take(handler);
}

bool launchAsUser(GAppInfo* handler, const std::string& uri, GError** error) {
    GList uris{const_cast<char*>(uri.c_str()), nullptr, nullptr};
    const auto mask = private_files::userUmask();
    if (!mask || !G_IS_DESKTOP_APP_INFO(handler)) return g_app_info_launch_uris(handler, &uris, nullptr, error) != FALSE;
    mode_t value = *mask;  // read by the child, in its copy of this frame
    return g_desktop_app_info_launch_uris_as_manager(G_DESKTOP_APP_INFO(handler), &uris, nullptr, G_SPAWN_SEARCH_PATH,
                                                     &restoreUmask, &value, nullptr, nullptr, error) != FALSE;
}

}  // namespace orvan
