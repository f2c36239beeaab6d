#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/UserDefaults.h"

namespace orvan::testing {

class FakeUserDefaults final : public UserDefaults {
public:
    std::optional<std::string> string(const std::string& key) const override {
        const auto found = values.find(key);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }
    void setString(const std::string& key, const std::string& value) override { values[key] = value; }
    void remove(const std::string& key) override { values.erase(key); }

    std::map<std::string, std::string> values;
};

}  // namespace orvan::testing
