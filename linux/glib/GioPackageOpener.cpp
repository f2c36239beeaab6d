#include "linux/glib/GioPackageOpener.h"

#include <gio/gio.h>

namespace orvan {

std::optional<std::string> GioPackageOpener::open(const std::filesystem::path& file) {
    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(file.c_str(), nullptr, &error);
    if (uri != nullptr && g_app_info_launch_default_for_uri(uri, nullptr, &error)) {
        g_free(uri);
        return std::nullopt;
    }
    g_free(uri);
    std::string message = error != nullptr ? error->message : "";
    g_clear_error(&error);
    return message;
}

}  // namespace orvan
