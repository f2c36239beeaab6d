#include "linux/glib/XdgAutostartLoginItem.h"

#include <errno.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <memory>
#include <optional>
#include <stdexcept>

#include "plugin/AutostartEntry.h"

namespace orvan {
namespace {

using KeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_free)>;

std::string takeMessage(GError* error) {
    std::string message = error != nullptr ? error->message : "";
    if (error != nullptr) g_error_free(error);
    return message;
}

std::optional<AutostartEntry> readEntry(const std::string& path) {
    KeyFile file(g_key_file_new(), &g_key_file_free);
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) return std::nullopt;
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    AutostartEntry entry;
    gchar* type = g_key_file_get_string(file.get(), group, G_KEY_FILE_DESKTOP_KEY_TYPE, nullptr);
    entry.type = type != nullptr ? type : "";
    g_free(type);
    entry.hidden = g_key_file_get_boolean(file.get(), group, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
    GError* error = nullptr;
    const gboolean gnome = g_key_file_get_boolean(file.get(), group, "X-GNOME-Autostart-enabled", &error);
    if (error == nullptr) entry.gnomeEnabled = gnome;
    g_clear_error(&error);
    // Exec quoting of desktop entries is the shell's double-quote subset.
    gchar* exec = g_key_file_get_string(file.get(), group, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr);
    gchar** words = nullptr;
    if (exec != nullptr && g_shell_parse_argv(exec, nullptr, &words, nullptr)) {
        for (gchar** word = words; *word != nullptr; ++word) entry.command.emplace_back(*word);
    }
    g_strfreev(words);
    g_free(exec);
    return entry;
}

}  // namespace

std::string XdgAutostartLoginItem::entryPath() const {
    gchar* file = g_build_filename(g_get_user_config_dir(), "autostart", desktopId_.c_str(), nullptr);
    std::string path = file;
    g_free(file);
    return path;
}

bool XdgAutostartLoginItem::enabled() { return AutostartEntry::startsAtLogin(readEntry(entryPath()), executable_); }

void XdgAutostartLoginItem::setEnabled(bool enabled, Failed) {
    const std::string path = entryPath();
    if (!enabled) {
        if (g_unlink(path.c_str()) != 0 && errno != ENOENT) throw std::runtime_error(g_strerror(errno));
        return;
    }
    gchar* folder = g_path_get_dirname(path.c_str());
    const int made = g_mkdir_with_parents(folder, 0700);
    const int madeErrno = errno;
    g_free(folder);
    if (made != 0) throw std::runtime_error(g_strerror(madeErrno));
    KeyFile file(g_key_file_new(), &g_key_file_free);
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    g_key_file_set_string(file.get(), group, G_KEY_FILE_DESKTOP_KEY_TYPE, "Application");
    g_key_file_set_string(file.get(), group, G_KEY_FILE_DESKTOP_KEY_NAME, AutostartEntry::kName);
    g_key_file_set_string(file.get(), group, G_KEY_FILE_DESKTOP_KEY_EXEC, AutostartEntry::execFor(executable_).c_str());
    g_key_file_set_boolean(file.get(), group, "X-GNOME-Autostart-enabled", TRUE);
    // Written to a temporary file and renamed: a half-written entry never exists.
    GError* error = nullptr;
    if (!g_key_file_save_to_file(file.get(), path.c_str(), &error)) throw std::runtime_error(takeMessage(error));
}

}  // namespace orvan
