#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/InfoDictionary.h"

namespace orvan::testing {

class FakeInfoDictionary final : public InfoDictionary {
public:
    std::optional<std::string> stringValue(const std::string& key) const override {
        const auto found = strings.find(key);
        if (found == strings.end()) return std::nullopt;
        return found->second;
    }

    std::map<std::string, std::string> strings;
};

}  // namespace orvan::testing
