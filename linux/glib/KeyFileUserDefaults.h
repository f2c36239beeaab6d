#pragma once

#include <filesystem>
#include <mutex>

#include "platform/UserDefaults.h"

namespace orvan {

// Settings of the tray companion in one key file, read on every access and written atomically
// (temporary file and rename) on every change.
class KeyFileUserDefaults final : public UserDefaults {
public:
    explicit KeyFileUserDefaults(std::filesystem::path file) : file_(std::move(file)) {}
    // "$XDG_CONFIG_HOME/OrvanOffice/<name>"
    static std::filesystem::path inConfigFolder(const std::string& name);

    std::optional<std::string> string(const std::string& key) const override;
    void setString(const std::string& key, const std::string& value) override;
    void remove(const std::string& key) override;

private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;
};

}  // namespace orvan
