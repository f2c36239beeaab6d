#pragma once

#include <optional>
#include <string>
#include <variant>

#include "platform/SystemError.h"
#include "recording/RecorderError.h"

namespace orvan {

// What a recorder operation fails with: one of the recorder's own errors, or an error of the system
// (file system, sound server, encoder) passed on unchanged. The description is what the page sees.
class RecordingFailure {
public:
    RecordingFailure(RecorderError error) : value_(std::move(error)) {}  // NOLINT: implicit on purpose
    RecordingFailure(SystemError error) : value_(std::move(error)) {}    // NOLINT: implicit on purpose

    std::string description() const {
        if (const auto* own = std::get_if<RecorderError>(&value_)) return own->description();
        return std::get<SystemError>(value_).description;
    }
    std::optional<RecorderError> recorderError() const {
        if (const auto* own = std::get_if<RecorderError>(&value_)) return *own;
        return std::nullopt;
    }

    friend bool operator==(const RecordingFailure&, const RecordingFailure&) = default;

private:
    std::variant<RecorderError, SystemError> value_;
};

}  // namespace orvan
