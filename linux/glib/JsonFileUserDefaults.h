#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/UserDefaults.h"

namespace orvan {

// The application's settings as one JSON object in a private file (under $XDG_CONFIG_HOME), rewritten
// whole through a unique temporary file and a rename so a crash or a second writer never leaves half
// a file. A missing, corrupt or
// unreadable file counts as empty and is replaced on the next write.
class JsonFileUserDefaults final : public UserDefaults {
public:
    explicit JsonFileUserDefaults(std::filesystem::path file);

    std::optional<std::string> string(const std::string& key) const override;
    void setString(const std::string& key, const std::string& value) override;
    void remove(const std::string& key) override;

    // $XDG_CONFIG_HOME/OrvanOffice/defaults.json
    static std::filesystem::path defaultFile();

private:
    void loadLocked() const;
    void saveLocked() const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable std::map<std::string, std::string> values_;
};

}  // namespace orvan
