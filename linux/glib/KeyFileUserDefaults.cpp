#include "linux/glib/KeyFileUserDefaults.h"

#include <glib.h>

#include <memory>

#include "platform/SystemLog.h"

namespace orvan {
namespace {

constexpr const char* kGroup = "Settings";
using KeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_free)>;

KeyFile load(const std::filesystem::path& file) {
    KeyFile keys(g_key_file_new(), &g_key_file_free);
    g_key_file_load_from_file(keys.get(), file.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
    return keys;
}

void save(const KeyFile& keys, const std::filesystem::path& file) {
    g_mkdir_with_parents(file.parent_path().c_str(), 0700);
    GError* error = nullptr;
    if (!g_key_file_save_to_file(keys.get(), file.c_str(), &error)) {
        systemLog(std::string("Kestrin: 設定を保存できません: ") + error->message);
        g_error_free(error);
    }
}

}  // namespace

std::filesystem::path KeyFileUserDefaults::inConfigFolder(const std::string& name) {
    return std::filesystem::path(g_get_user_config_dir()) / "OrvanOffice" / name;
}

std::optional<std::string> KeyFileUserDefaults::string(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const KeyFile keys = load(file_);
    gchar* value = g_key_file_get_string(keys.get(), kGroup, key.c_str(), nullptr);
    if (value == nullptr) return std::nullopt;
    std::string result = value;
    g_free(value);
    return result;
}

void KeyFileUserDefaults::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    const KeyFile keys = load(file_);
    g_key_file_set_string(keys.get(), kGroup, key.c_str(), value.c_str());
    save(keys, file_);
}

void KeyFileUserDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    const KeyFile keys = load(file_);
    if (g_key_file_remove_key(keys.get(), kGroup, key.c_str(), nullptr)) save(keys, file_);
}

}  // namespace orvan
