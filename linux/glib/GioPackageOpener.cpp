#include "linux/glib/GioPackageOpener.h"

#include <gio/gio.h>

#include "linux/glib/DesktopHandlerLaunch.h"

namespace orvan {

std::optional<std::string> GioPackageOpener::open(const std::filesystem::path& file) {
    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(file.c_str(), nullptr, &error);
    const auto handler = uri != nullptr ? defaultHandler(uri) : GObjectPtr<GAppInfo>();
    // Without a handler here, GIO's own way (the desktop portal inside a sandbox).
    const bool started = uri != nullptr && (handler ? launchAsUser(handler.get(), uri, &error)
                                                    : g_app_info_launch_default_for_uri(uri, nullptr, &error) != FALSE);
    g_free(uri);
    if (started) return std::nullopt;
    std::string message = error != nullptr ? error->message : "";
    g_clear_error(&error);
    return message;
}

}  // namespace orvan
