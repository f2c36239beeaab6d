#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/AudioInterruptions.h"
#include "platform/AudioSession.h"
#include "platform/RecordingSignals.h"
#include "platform/SegmentRecorder.h"
#include "linux/pulse/PulseConnection.h"

namespace orvan {

class FfmpegSegmentWriter;

// The microphone on the sound server: segments recorded from the default source (captured as float
// at the segment's rate, mono, in short fragments; the server resamples) and encoded by
// FfmpegSegmentWriter. It is also the audio session (a connection to the server while recording)
// and the source of interruptions:
//   - began: the capture stream is suspended, or killed (the microphone went away, the server ended);
//   - ended: after that, the server's default source is a microphone again that a stream can wake
//     (one suspended only for being idle is), or the server is back after it went away.
// A microphone is unusable only when it is muted, gone, or held suspended by something else: the
// server suspends an unused microphone after a few seconds and wakes it for the next stream.
// When a segment is handed over to the next one at once (a rotation), the capture stream goes on:
// nothing is lost between them, and the new segment's encoder starts from the old one's last
// samples. A segment that is stopped (a pause) ends its stream, so nothing of the pause is kept. Called from one thread at a time (the recorder's queue); the server's callbacks run on
// the connection's own thread.
class PulseSegmentRecorder final : public AudioSession, public SegmentRecorder, public AudioInterruptions {
public:
    struct Options {
        std::chrono::milliseconds timeout{5000};
        std::chrono::milliseconds fragment{50};
        // How long a stopped segment's stream waits for the next segment before it is closed.
        std::chrono::milliseconds handoverWindow{1000};
        // After an interruption begins, when to look whether the microphone is usable again.
        std::chrono::milliseconds recheckDelay{500};
        std::size_t leadInFrames = 2048;
        // Told the microphone's level, whether it is muted and a failed write; none: nobody listens.
        std::shared_ptr<RecordingSignals> signals = nullptr;
    };

    PulseSegmentRecorder();
    explicit PulseSegmentRecorder(Options options);
    ~PulseSegmentRecorder() override;
    PulseSegmentRecorder(const PulseSegmentRecorder&) = delete;
    PulseSegmentRecorder& operator=(const PulseSegmentRecorder&) = delete;

    // Nothing to set up here: the server has no categories or modes, and other applications' sound
    // mixes with ours anyway.
    std::optional<SystemError> configureForSpokenRecording() override { return std::nullopt; }
    std::optional<SystemError> activate() override;
    std::optional<SystemError> deactivate() override;

    std::variant<std::unique_ptr<SegmentRecording>, SystemError> create(const std::filesystem::path& file,
                                                                        const SegmentSettings& settings) override;

    void observe(std::function<void(const AudioInterruption&)> observer) override;

    // Samples handed to segments so far, over every session: what a crash is measured against.
    std::int64_t framesRecorded() const { return framesRecorded_.load(); }

private:
    // How the server lists our capture streams.
    static constexpr const char* kStreamName = "会議の録音";

    class Segment;
    struct Capture;

    // On the recorder's thread.
    bool attach(FfmpegSegmentWriter& writer, int sampleRate);
    // With `handOver`, the stream keeps running for the next segment for a moment.
    void detach(FfmpegSegmentWriter& writer, bool handOver);
    std::unique_ptr<Capture> openCapture(int sampleRate);

    // On the connection's thread (or with its lock held).
    void deliver(Capture& capture, const float* samples, std::size_t frames);
    void interruptionBegan();
    void lookForMicrophone();
    void microphoneFound(const pa_source_info& source);
    void probe(const std::string& source);
    void checkMute();
    void watchForServer();
    void stopWatching();
    void notify(std::uint64_t type);
    static void onProbeState(pa_stream* stream, void* userdata);
    static void onStreamState(pa_stream* stream, void* userdata);
    static void onStreamRead(pa_stream* stream, std::size_t bytes, void* userdata);
    static void onStreamSuspended(pa_stream* stream, void* userdata);
    static void onServerEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                              void* userdata);

    Options options_;
    std::unique_ptr<PulseConnection> connection_;
    // Under the connection's lock; null while no session is active.
    pa_context* context_ = nullptr;
    pa_threaded_mainloop* loop_ = nullptr;
    std::unique_ptr<Capture> capture_;
    PulseOperationPtr muteQuery_;  // the last question whether the microphone is muted
    bool interrupted_ = false;
    PulseTimer recheck_;
    std::string lookingFor_;  // the default source's name, between two server queries
    // A stream that only looks whether a suspended microphone wakes up for it.
    PulseStreamPtr probe_;
    pa_usec_t lastProbe_ = 0;

    // After the server went away: a thread of its own that waits for it to come back.
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    std::thread watcher_;

    std::atomic<std::int64_t> framesRecorded_ = 0;

    std::mutex observerMutex_;
    std::function<void(const AudioInterruption&)> observer_;
};

}  // namespace orvan
