#pragma once

#include <optional>
#include <string>

namespace orvan {

// The main bundle's Info.plist, read anew on every call.
class InfoDictionary {
public:
    virtual ~InfoDictionary() = default;
    // The value under `key` when it is a string; nullopt when absent, of another type or unreadable.
    virtual std::optional<std::string> stringValue(const std::string& key) const = 0;
};

}  // namespace orvan
