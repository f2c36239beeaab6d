#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "recording/RecordingFailure.h"

namespace orvan {

// What the page's recorder commands ask of the meeting recorder. Every completion runs exactly
// once, on the main loop.
class RecorderCommands {
public:
    using Done = std::function<void(std::optional<RecordingFailure>)>;
    using PathDone = std::function<void(std::variant<std::string, RecordingFailure>)>;
    using PendingDone = std::function<void(std::variant<std::optional<std::string>, RecordingFailure>)>;

    virtual ~RecorderCommands() = default;
    virtual void start(Done done) = 0;
    virtual void pause(Done done) = 0;
    virtual void resume(Done done) = 0;
    // The finished file's path.
    virtual void stop(PathDone done) = 0;
    // A finished recording waiting to be collected, if any.
    virtual void pending(PendingDone done) = 0;
    virtual void discard(const std::string& path, Done done) = 0;
};

// A recorder that never records: every command answers "録音していません". For tools that need the
// page bridge without the sound system (the bridge benchmark).
class NotRecordingRecorder final : public RecorderCommands {
public:
    void start(Done done) override { done(RecorderError::notRecording()); }
    void pause(Done done) override { done(RecorderError::notRecording()); }
    void resume(Done done) override { done(RecorderError::notRecording()); }
    void stop(PathDone done) override { done(RecorderError::notRecording()); }
    void pending(PendingDone done) override { done(RecorderError::notRecording()); }
    void discard(const std::string&, Done done) override { done(RecorderError::notRecording()); }
};

}  // namespace orvan
