#pragma once

#include <memory>

#include "platform/AudioCapture.h"
#include "linux/ffmpeg/SwrAudioConverters.h"
#include "platform/BackgroundJobs.h"
#include "recording/SystemAudioCapture.h"

namespace orvan {

// System audio and microphone on the sound server: the default sink's monitor and the default source,
// two record streams on one connection, each buffer stamped on the monotonic clock.
class PulseSystemAudio final : public SystemAudio {
public:
    // `ports.clock` runs the capture's queue; the other ports are handed to every capture. Without
    // `mendDrift` each stream is timed by its sample count alone (only for measuring the mend).
    explicit PulseSystemAudio(SystemAudioCapturePorts ports, bool mendDrift = true)
        : ports_(std::move(ports)), mendDrift_(mendDrift) {}

    // Whether capture works is only known by trying; a failed start falls back to the microphone.
    bool supported() const override { return true; }
    void start(const std::filesystem::path& dir, std::function<void(Started)> done) override;
    Finalized finalize(const std::filesystem::path& dir) override {
        return SystemAudioCapture::forRecorder(
            SystemAudioCapture::finalize(dir, *ports_.writers, SystemAudioCapture::echoCancellation(ports_).get()));
    }

private:
    SystemAudioCapturePorts ports_;
    bool mendDrift_;
    BackgroundJobs jobs_;  // starts: connecting waits for the server
};

}  // namespace orvan
