#pragma once

#include <string>

namespace orvan {

// The recorder's failures; the description is what the page and the popup show.
class RecorderError {
public:
    enum class Code { permissionDenied, alreadyRecording, notRecording, exportFailed };

    static RecorderError permissionDenied() { return RecorderError(Code::permissionDenied, {}); }
    static RecorderError alreadyRecording() { return RecorderError(Code::alreadyRecording, {}); }
    static RecorderError notRecording() { return RecorderError(Code::notRecording, {}); }
    static RecorderError exportFailed(std::string message) { return RecorderError(Code::exportFailed, std::move(message)); }

    Code code() const { return code_; }
    const std::string& message() const { return message_; }
    std::string description() const;

    friend bool operator==(const RecorderError&, const RecorderError&) = default;

private:
    RecorderError(Code code, std::string message) : code_(code), message_(std::move(message)) {}
    Code code_;
    std::string message_;
};

}  // namespace orvan
