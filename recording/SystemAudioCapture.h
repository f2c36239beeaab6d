#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/NotificationCenter.h"
#include "platform/AudioCapture.h"
#include "platform/AudioFileWriter.h"
#include "platform/Clock.h"
#include "platform/EchoCanceller.h"
#include "platform/RecordingSignals.h"
#include "platform/SerialQueue.h"
#include "platform/SystemError.h"
#include "platform/UserDefaults.h"
#include "recording/CaptureError.h"
#include "recording/ProgressiveMixdown.h"
#include "recording/SystemAudio.h"

namespace orvan {

// One raw track being written: a sample's place in the file follows from its time, so buffers land
// where they belong however they arrive. Written straight to the file without a buffer of our own,
// so a killed process loses nothing that was handed over.
class RawTrack {
public:
    // Creates the file empty (replacing one of that name) and opens it for writing.
    static std::variant<std::unique_ptr<RawTrack>, SystemError> create(const std::filesystem::path& file);
    ~RawTrack();
    RawTrack(const RawTrack&) = delete;
    RawTrack& operator=(const RawTrack&) = delete;

    // From timeline frame `frame` on; the system's error when it cannot.
    std::optional<SystemError> write(std::uint64_t frame, const std::vector<float>& samples);
    // Flushes to disk and closes; errors are of no use to anyone by then.
    void close();

private:
    explicit RawTrack(int handle) : handle_(handle) {}
    int handle_ = -1;
};

// What a capture is built from.
struct SystemAudioCapturePorts {
    std::string applicationIdentifier;  // prefixes the queue's label
    std::shared_ptr<Clock> clock;
    std::shared_ptr<AudioConverters> converters;
    std::shared_ptr<AudioFileWriters> writers;
    std::shared_ptr<NotificationCenter> notifications;
    // Takes the echo of the system audio out of the microphone's channel; none: kept as heard.
    std::shared_ptr<EchoCancellers> echoCancellers = nullptr;
    std::shared_ptr<UserDefaults> defaults = nullptr;  // where the user can turn that off
    // Where a failed write is told (and, by the streams, the inputs' levels); none: nobody listens.
    std::shared_ptr<RecordingSignals> signals = nullptr;
};

// System-audio recording: two raw tracks in a session directory ("system.f32", "mic.f32": headerless
// native float, mono, 16 000 Hz, time-addressed), mixed down into a two-channel "meeting.m4a".
//
// Every buffer, the timeline and the converters are handled on the capture's own queue.
class SystemAudioCapture final : public SystemAudioCapturing, public std::enable_shared_from_this<SystemAudioCapture> {
public:
    // Nothing is written at or after five hours of timeline.
    static constexpr double kLongest = 18000.0;

    static constexpr int kSampleRate = 16000;
    static constexpr const char* kSystemTrackName = "system.f32";
    static constexpr const char* kMicTrackName = "mic.f32";
    static constexpr const char* kFinishedName = "meeting.m4a";
    static constexpr const char* kPartialName = "meeting.partial.m4a";
    // Quieter than this everywhere, over both channels, counts as nothing recorded.
    static constexpr float kSilenceThreshold = 0.0001f;
    static constexpr AudioFileSettings kFinishedSettings{.sampleRate = kSampleRate, .channels = 2, .bitRate = 64000};
    // "false" keeps the microphone as it was heard, for a headset that cancels its echo itself.
    static constexpr const char* kEchoCancellationKey = "OrvanEchoCancellation";

    using Mixed = std::variant<std::filesystem::path, CaptureError, SystemError>;

    // Mixes the raw tracks of `dir` into "meeting.m4a" (system audio on the first channel, microphone on
    // the second, without its echo given `echo`) and answers its path; "meeting.m4a" already there is
    // answered as it is. Blocks for the whole encode; one mix-down runs at a time in the process.
    static Mixed finalize(const std::filesystem::path& dir, AudioFileWriters& writers, EchoCancellers* echo = nullptr);
    // The echo canceller that mix-downs on `ports` use: theirs, unless the user turned it off.
    static std::shared_ptr<EchoCancellers> echoCancellation(const SystemAudioCapturePorts& ports);
    // Held by every mix-down for its whole run: a live capture's end and a pending scan may reach
    // the same directory together.
    static std::mutex& mixdownLock();

    // As the recorder takes it: no sound at all is told apart from every other failure.
    static SystemAudio::Finalized forRecorder(const Mixed& mixed);

    // Creates both tracks in `dir` (replacing what was there); a track that cannot be made fails it.
    static std::variant<std::shared_ptr<SystemAudioCapture>, SystemError> create(const std::filesystem::path& dir,
                                                                                 SystemAudioCapturePorts ports);
    ~SystemAudioCapture() override;

    // Keeps the running stream until `stop`.
    void attach(std::shared_ptr<CaptureStream> stream);
    SerialQueue& queue() { return *queue_; }
    // For a stream that hands buffers over without keeping the capture alive from its own thread.
    std::shared_ptr<SerialQueue> sharedQueue() const { return queue_; }
    const std::filesystem::path& dir() const { return dir_; }
    const std::shared_ptr<RecordingSignals>& signals() const { return ports_.signals; }

    // On the queue: one buffer of either stream.
    void handle(const CapturedBuffer& buffer);
    // From any thread but the queue: what the stream has read so far is placed first, so a pause
    // cuts the timeline where the user asked for it.
    void pause() override;
    void resume() override;
    // On the queue: the timeline's own pause arithmetic.
    void pauseTimeline();
    void resumeTimeline();
    // From any thread: the sound server ended a stream or went away.
    void streamStopped(const std::string& description);
    // Stops the stream, closes the tracks and mixes them down.
    void stop(std::function<void(std::variant<std::filesystem::path, RecordingFailure>)> done) override;

private:
    SystemAudioCapture(std::filesystem::path dir, SystemAudioCapturePorts ports, std::unique_ptr<RawTrack> system,
                       std::unique_ptr<RawTrack> mic);
    std::optional<std::vector<float>> convert(const CapturedBuffer& buffer);
    void settleStream();
    void closeTracks();
    // On the queue: a track could not be written. Both are closed at once and keep what they have.
    void writeFailed(const SystemError& error);

    std::filesystem::path dir_;
    SystemAudioCapturePorts ports_;
    std::shared_ptr<SerialQueue> queue_;
    std::mutex streamMutex_;  // the stream is attached and taken outside the queue
    std::shared_ptr<CaptureStream> stream_;

    // On the queue.
    std::unique_ptr<RawTrack> system_;
    std::unique_ptr<RawTrack> mic_;
    // The finished file, encoded as the tracks fill; taken by the stop.
    std::unique_ptr<ProgressiveMixdown> progressive_;
    struct Converter {
        CaptureFormat input;
        std::unique_ptr<AudioConverting> converter;
    };
    std::map<CaptureOutputType, Converter> converters_;
    std::optional<double> origin_;
    bool paused_ = false;
    std::optional<double> pausedFrom_;
    double pausedTotal_ = 0;
    std::optional<double> lastPTS_;
    bool writeFailed_ = false;
};

// Finishes left-over raw tracks where capture itself is not available in this process.
class MixdownOnlySystemAudio final : public SystemAudio {
public:
    explicit MixdownOnlySystemAudio(std::shared_ptr<AudioFileWriters> writers) : writers_(std::move(writers)) {}
    bool supported() const override { return false; }
    bool canFinalize() const override { return true; }
    void start(const std::filesystem::path&, std::function<void(Started)> done) override {
        done(RecordingFailure(SystemError{"system audio capture is not supported"}));
    }
    Finalized finalize(const std::filesystem::path& dir) override {
        return SystemAudioCapture::forRecorder(SystemAudioCapture::finalize(dir, *writers_));
    }

private:
    std::shared_ptr<AudioFileWriters> writers_;
};

}  // namespace orvan
