#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "linux/pulse/PulseConnection.h"
#include "platform/AudioCapture.h"
#include "platform/SerialQueue.h"
#include "recording/StreamClock.h"
#include "recording/SystemAudioCapture.h"

namespace orvan {

class PulseCaptureStreams;

// One record stream: counts its samples and stamps them on the monotonic clock through the latency.
struct RecordStream {
    PulseCaptureStreams* owner = nullptr;
    CaptureOutputType type = CaptureOutputType::systemAudio;
    std::string source;
    PulseStreamPtr stream;
    bool failed = false;
    std::string failure;
    std::uint64_t framesRead = 0;
    // Readings of "when was sample 0 captured": the settled ones, and the newest early one for a
    // recording too short to settle.
    std::vector<double> readings;
    std::optional<double> early;
    std::optional<double> firstData;
    // From the anchor on: where the samples go on the timeline.
    std::optional<StreamClock> clock;
    // Samples read before the anchor was fixed, in order.
    std::vector<std::vector<float>> held;
};

// Both record streams on one connection. They follow the server's default output and microphone:
// a new default gets a new stream whose samples are placed by their own time stamps, so the
// timeline runs on across the switch and the moment between is silence.
class PulseCaptureStreams final : public CaptureStream {
public:
    // How long the server is waited for when connecting and opening a stream.
    static constexpr std::chrono::milliseconds kTimeout{3000};

    // Buffers go onto the capture's queue without the capture being held from the sound server's
    // thread: the capture must never end there.
    PulseCaptureStreams(std::unique_ptr<PulseConnection> connection, const std::shared_ptr<SystemAudioCapture>& capture,
                        bool mendDrift)
        : connection_(std::move(connection)),
          queue_(capture->sharedQueue()),
          capture_(capture),
          signals_(capture->signals()),
          mendDrift_(mendDrift) {}
    ~PulseCaptureStreams() override { close(); }

    // With the lock held, not on the loop's thread: opens the stream of `type` on `source` and waits
    // until it records; the server's text when it cannot.
    std::optional<std::string> open(CaptureOutputType type, const std::string& source);

    // With the lock held: from now on a lost connection is reported and changes of the server's
    // defaults are followed.
    void watch();

    PulseConnection& connection() { return *connection_; }

    void settle() override;

    void stop(std::function<void()> done) override;

private:
    static double monotonicSeconds() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    static const char* describe(CaptureOutputType type) {
        return type == CaptureOutputType::systemAudio ? "system audio" : "microphone";
    }

    // With the lock held: streams still waiting for settled readings place what they hold now.
    void placeHeld();

    void close();

    // With the lock held: asks the server whether the microphone recorded now is muted.
    void checkMute();

    // With the lock held: a new stream of `type` connecting to `source`; none when the server
    // refuses at once.
    std::unique_ptr<RecordStream> connect(CaptureOutputType type, const std::string& source);

    // With the lock held: ends the stream of `type`, handing over what it still holds.
    void retire(CaptureOutputType type);

    // With the lock held: the stream of `type` records from `source` from now on.
    void follow(CaptureOutputType type, const std::string& source);

    // With the lock held, on any thread: asks the server for its defaults and follows them.
    void refresh();

    // The server could not say what its defaults are (the sink went between the two questions, or
    // the connection is going): the streams stay as they are, and a failed one is asked about again.
    void defaultsUnknown();

    void defaultsFound(const std::string& monitor);

    // Through the stream's clock onto the timeline: each buffer is stamped with the time of its first
    // output frame, so consecutive buffers continue sample by sample.
    void hand(RecordStream& record, const std::vector<float>& input);

    void fixAnchor(RecordStream& record);

    void read(RecordStream& record);

    void lost(const std::string& description);

    static void onRead(pa_stream*, std::size_t, void* userdata);
    static void onState(pa_stream* stream, void* userdata);
    static void onContextState(pa_context* context, void* userdata);
    static void onServerEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* userdata);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata);
    static void onSinkInfo(pa_context*, const pa_sink_info* info, int end, void* userdata);

    std::unique_ptr<PulseConnection> connection_;
    std::shared_ptr<SerialQueue> queue_;
    std::weak_ptr<SystemAudioCapture> capture_;
    std::shared_ptr<RecordingSignals> signals_;  // told the levels and whether the microphone is muted
    bool mendDrift_;
    // With the connection's lock held.
    std::map<CaptureOutputType, std::unique_ptr<RecordStream>> active_;
    std::vector<std::unique_ptr<RecordStream>> retired_;
    PulseOperationPtr subscription_;
    PulseOperationPtr serverQuery_;
    PulseOperationPtr sinkQuery_;
    PulseOperationPtr muteQuery_;
    std::string defaultSource_;
    std::string monitor_;
    bool watching_ = false;
    bool refreshing_ = false;
    bool refreshAgain_ = false;
    bool sinkFound_ = false;
    std::size_t unknownAnswers_ = 0;
    std::map<CaptureOutputType, std::vector<double>> reconnects_;
    bool stopping_ = false;
    bool reported_ = false;
};

}  // namespace orvan
