#pragma once

#include <optional>
#include <string>

namespace orvan {

// Small persistent settings of the application (strings by key). Safe from any thread.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    virtual std::optional<std::string> string(const std::string& key) const = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void remove(const std::string& key) = 0;
};

}  // namespace orvan
