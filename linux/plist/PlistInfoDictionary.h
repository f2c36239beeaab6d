#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/InfoDictionary.h"

namespace orvan {

// An Info.plist on disk (XML or binary), read with libplist on every lookup.
class PlistInfoDictionary final : public InfoDictionary {
public:
    explicit PlistInfoDictionary(std::filesystem::path file) : file_(std::move(file)) {}
    std::optional<std::string> stringValue(const std::string& key) const override;

private:
    std::filesystem::path file_;
};

// The directory that holds the running executable: the application's main bundle.
std::filesystem::path mainBundleDirectory();

}  // namespace orvan
