#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <variant>

#include "recording/RecordingFailure.h"

namespace orvan {

// A running capture of the system audio and the microphone into a session directory's raw tracks.
class SystemAudioCapturing {
public:
    virtual ~SystemAudioCapturing() = default;
    // From any thread but the capture's queue: both run synchronously on that queue.
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Ends capturing and mixes the raw tracks into the finished file; answers once, on any thread.
    virtual void stop(std::function<void(std::variant<std::filesystem::path, RecordingFailure>)> done) = 0;
};

// System-audio recording as the recorder sees it.
class SystemAudio {
public:
    // A mix-down that found no sound at all in the raw tracks.
    struct NoSound {
        friend bool operator==(const NoSound&, const NoSound&) = default;
    };
    using Started = std::variant<std::shared_ptr<SystemAudioCapturing>, RecordingFailure>;
    using Finalized = std::variant<std::filesystem::path, NoSound, RecordingFailure>;

    virtual ~SystemAudio() = default;
    // Whether this system can capture its audio output at all.
    virtual bool supported() const = 0;
    // Whether left-over raw tracks can be mixed here; mixing needs only the encoder, not the capture.
    virtual bool canFinalize() const { return supported(); }
    // Starts capturing into an existing session directory; answers once, on any thread.
    virtual void start(const std::filesystem::path& dir, std::function<void(Started)> done) = 0;
    // Mixes a left-over session directory's raw tracks into "meeting.m4a"; blocks for the whole encode.
    virtual Finalized finalize(const std::filesystem::path& dir) = 0;
};

// Until system-audio capture exists here, recording is from the microphone only.
class NoSystemAudio final : public SystemAudio {
public:
    bool supported() const override { return false; }
    void start(const std::filesystem::path&, std::function<void(Started)> done) override {
        done(RecordingFailure(SystemError{"system audio capture is not supported"}));
    }
    Finalized finalize(const std::filesystem::path&) override {
        return RecordingFailure(SystemError{"system audio capture is not supported"});
    }
};

}  // namespace orvan
