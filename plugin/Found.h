#pragma once

#include <optional>
#include <string>

namespace orvan {

// The result of one meeting-detection pass.
struct Found {
    enum class Kind { inMeeting, none, needsScreenPermission };

    Kind kind = Kind::none;
    // With inMeeting: "Zoom", "Teams" or "Google Meet"; absent when the microphone shows a meeting
    // whose service cannot be told.
    std::optional<std::string> label;

    static Found inMeeting(std::optional<std::string> label) { return {Kind::inMeeting, std::move(label)}; }
    static Found none() { return {}; }
    static Found needsScreenPermission() { return {Kind::needsScreenPermission, std::nullopt}; }

    bool operator==(const Found&) const = default;
};

}  // namespace orvan
