#include "linux/glib/XdgAutostartLoginItem.h"

#include <glib.h>

namespace orvan {

bool XdgAutostartLoginItem::enabled() {
    GKeyFile* entry = g_key_file_new();
    gchar* file = g_build_filename(g_get_user_config_dir(), "autostart", desktopId_.c_str(), nullptr);
    bool on = g_key_file_load_from_file(entry, file, G_KEY_FILE_NONE, nullptr) &&
              !g_key_file_get_boolean(entry, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
    g_free(file);
    g_key_file_free(entry);
    return on;
}

}  // namespace orvan
