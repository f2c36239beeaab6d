#include "linux/glib/JsonFileUserDefaults.h"

#include <fstream>
#include <iterator>

#include <glib.h>
#include <nlohmann/json.hpp>

#include "platform/PrivateFiles.h"
#include "platform/SystemLog.h"

namespace orvan {

JsonFileUserDefaults::JsonFileUserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path JsonFileUserDefaults::defaultFile() {
    return std::filesystem::path(g_get_user_config_dir()) / "OrvanOffice" / "defaults.json";
}

void JsonFileUserDefaults::loadLocked() const {
    if (loaded_) return;
    loaded_ = true;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file_, error)) return;
    std::string text;
    try {
        std::ifstream in(file_, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        text.clear();  // unreadable: starts empty like a corrupt file
    }
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) {
        systemLog("OrvanOffice: settings file unreadable, starting empty: " + file_.string());
        return;
    }
    for (const auto& [key, value] : json.items()) {
        if (value.is_string()) values_[key] = value.get<std::string>();
        // A switch written by hand ("OrvanEchoCancellation": false) reads as its text.
        if (value.is_boolean()) values_[key] = value.get<bool>() ? "true" : "false";
    }
}

void JsonFileUserDefaults::saveLocked() const {
    nlohmann::json json = nlohmann::json::object();
    for (const auto& [key, value] : values_) json[key] = value;
    // Through a temporary file of this write's own: another writer of the same file (a second
    // instance, the tray companion) never writes into it.
    if (const auto error = private_files::createDirectories(file_.parent_path())) {
        systemLog("OrvanOffice: cannot write settings: " + error.message());
        return;
    }
    const std::string text = json.dump(2) + "\n";
    GError* error = nullptr;
    if (!g_file_set_contents_full(file_.c_str(), text.data(), static_cast<gssize>(text.size()),
                                  static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                                     G_FILE_SET_CONTENTS_DURABLE),
                                  0600, &error)) {
        systemLog(std::string("OrvanOffice: cannot write settings: ") + error->message);
        g_error_free(error);
    }
}

std::optional<std::string> JsonFileUserDefaults::string(const std::string& key) const {
    std::lock_guard lock(mutex_);
    loadLocked();
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

void JsonFileUserDefaults::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    loadLocked();
    values_[key] = value;
    saveLocked();
}

void JsonFileUserDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    loadLocked();
    if (values_.erase(key) == 0) return;
    saveLocked();
}

}  // namespace orvan
