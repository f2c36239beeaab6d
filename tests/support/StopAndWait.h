#pragma once

#include <filesystem>
#include <future>
#include <variant>

#include "recording/SystemAudio.h"

namespace orvan::testing {

// Stops `capture` and waits for its one answer, which may come on any thread.
inline std::variant<std::filesystem::path, RecordingFailure> stopAndWait(SystemAudioCapturing& capture) {
    std::promise<std::variant<std::filesystem::path, RecordingFailure>> stopped;
    capture.stop([&](std::variant<std::filesystem::path, RecordingFailure> answer) { stopped.set_value(std::move(answer)); });
    return stopped.get_future().get();
}

}  // namespace orvan::testing
