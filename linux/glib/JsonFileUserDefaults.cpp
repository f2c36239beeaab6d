#include "linux/glib/JsonFileUserDefaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include <glib.h>
#include <nlohmann/json.hpp>

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
    const std::string text = json.dump(2) + "\n";

    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    const std::string temporary = file_.string() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        systemLog("OrvanOffice: cannot write settings: " + std::string(std::strerror(errno)));
        return;
    }
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = ::fsync(fd) == 0 && written;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file_.c_str()) != 0) {
        systemLog("OrvanOffice: cannot write settings: " + std::string(std::strerror(errno)));
        ::unlink(temporary.c_str());
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
