#include "linux/pulse/PulseSegmentRecorder.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "platform/SystemLog.h"
#include "linux/ffmpeg/FfmpegSegmentWriter.h"

namespace orvan {

namespace {

// Samples kept for the next segment while none records: more than any handover window can bring.
constexpr std::size_t kMostHeldSeconds = 10;
constexpr std::size_t kLongestEncoderFrame = 2048;

}  // namespace

// One capture stream and where its samples go. Released with the connection's lock held.
struct PulseSegmentRecorder::Capture {
    PulseSegmentRecorder* owner = nullptr;
    pa_threaded_mainloop* loop = nullptr;
    int rate = 0;
    std::string source;
    FfmpegSegmentWriter* writer = nullptr;  // the segment recording now, if any
    std::vector<float> held;                // captured while no segment records (a rotation)
    std::vector<float> recent;              // the newest samples, for a next segment's lead-in
    std::vector<float> leadIn;
    bool ready = false;
    bool lost = false;  // killed or suspended after it was ready: never handed over
    PulseStreamPtr stream;
    PulseTimer closeTimer;
};

class PulseSegmentRecorder::Segment final : public SegmentRecording {
public:
    Segment(PulseSegmentRecorder& owner, std::unique_ptr<FfmpegSegmentWriter> writer, int rate)
        : owner_(owner), writer_(std::move(writer)), rate_(rate) {}
    ~Segment() override { stop(); }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    bool record() override {
        if (recording_ || stopped_) return false;
        recording_ = owner_.attach(*writer_, rate_);
        return recording_;
    }

    void stop() override { end(false); }
    void handOver() override { end(true); }

private:
    void end(bool handOver) {
        if (stopped_) return;
        stopped_ = true;
        if (recording_) owner_.detach(*writer_, handOver);
        recording_ = false;
        // Write errors were logged as they happened; the file keeps what was written.
        (void)writer_->finish();
    }

    PulseSegmentRecorder& owner_;
    std::unique_ptr<FfmpegSegmentWriter> writer_;
    int rate_;
    bool recording_ = false;
    bool stopped_ = false;
};

PulseSegmentRecorder::PulseSegmentRecorder() : PulseSegmentRecorder(Options{}) {}

PulseSegmentRecorder::PulseSegmentRecorder(Options options) : options_(options) {}

PulseSegmentRecorder::~PulseSegmentRecorder() { (void)deactivate(); }

// ---- Session ---------------------------------------------------------------------------------------

std::optional<SystemError> PulseSegmentRecorder::activate() {
    if (connection_) {
        {
            PulseConnection::Lock lock(*connection_);
            if (pa_context_get_state(connection_->context()) == PA_CONTEXT_READY) return std::nullopt;
        }
        // The server went away meanwhile: connect again.
        (void)deactivate();
    }
    auto opened = PulseConnection::open(options_.timeout);
    if (const auto* error = std::get_if<std::string>(&opened)) return SystemError{*error};
    connection_ = std::move(std::get<std::unique_ptr<PulseConnection>>(opened));
    PulseConnection::Lock lock(*connection_);
    context_ = connection_->context();
    loop_ = connection_->loop();
    pa_context_set_subscribe_callback(context_, &PulseSegmentRecorder::onServerEvent, this);
    pa_operation* subscription = pa_context_subscribe(
        context_, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER),
        nullptr, nullptr);
    // It runs on by itself; only its effect matters.
    if (subscription != nullptr) pa_operation_unref(subscription);
    return std::nullopt;
}

std::optional<SystemError> PulseSegmentRecorder::deactivate() {
    stopWatching();
    if (!connection_) return std::nullopt;
    {
        PulseConnection::Lock lock(*connection_);
        muteQuery_.reset();
        capture_.reset();
        probe_.reset();
        recheck_.reset();
        interrupted_ = false;
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        context_ = nullptr;
        loop_ = nullptr;
    }
    connection_.reset();
    return std::nullopt;
}

// ---- Segments --------------------------------------------------------------------------------------

std::variant<std::unique_ptr<SegmentRecording>, SystemError> PulseSegmentRecorder::create(
    const std::filesystem::path& file, const SegmentSettings& settings) {
    if (settings.formatID != SegmentSettings::kMPEG4AAC || settings.numberOfChannels != 1 || settings.sampleRate <= 0) {
        return SystemError{"unsupported segment format"};
    }
    auto made = FfmpegSegmentWriter::create(
        file, FfmpegSegmentWriter::Format{settings.sampleRate, settings.numberOfChannels, settings.encoderBitRate});
    if (const auto* error = std::get_if<std::string>(&made)) return SystemError{*error};
    return std::unique_ptr<SegmentRecording>(
        std::make_unique<Segment>(*this, std::move(std::get<std::unique_ptr<FfmpegSegmentWriter>>(made)),
                                  settings.sampleRate));
}

bool PulseSegmentRecorder::attach(FfmpegSegmentWriter& writer, int sampleRate) {
    if (!connection_) return false;
    PulseConnection::Lock lock(*connection_);
    if (capture_ && capture_->writer == nullptr && capture_->rate == sampleRate && capture_->ready && !capture_->lost) {
        // A rotation: the stream goes on into the new segment.
        capture_->closeTimer.reset();
        if (!capture_->leadIn.empty()) writer.leadIn(capture_->leadIn.data(), capture_->leadIn.size());
        writer.append(capture_->held.data(), capture_->held.size());
        framesRecorded_ += static_cast<std::int64_t>(capture_->held.size());
        capture_->held.clear();
        capture_->leadIn.clear();
        capture_->writer = &writer;
        return true;
    }
    capture_.reset();
    capture_ = openCapture(sampleRate);
    if (!capture_) return false;
    capture_->writer = &writer;
    // A microphone records again, whatever interrupted the last one.
    interrupted_ = false;
    recheck_.reset();
    return true;
}

void PulseSegmentRecorder::detach(FfmpegSegmentWriter& writer, bool handOver) {
    if (!connection_) return;
    PulseConnection::Lock lock(*connection_);
    if (!capture_ || capture_->writer != &writer) return;
    capture_->writer = nullptr;
    if (capture_->lost || !handOver) {
        capture_.reset();
        return;
    }
    // The old segment ends on a whole encoder frame and the next begins with what is left over; its
    // lead-in, the samples before those, is whole frames too. Joined, the segments' packets then
    // meet exactly where their audio does.
    auto unencoded = writer.takeUnencoded();
    framesRecorded_ -= static_cast<std::int64_t>(unencoded.size());
    const auto frame = static_cast<std::size_t>(writer.frameSize());
    const std::size_t before = capture_->recent.size() - std::min(unencoded.size(), capture_->recent.size());
    const std::size_t keep = std::min(options_.leadInFrames, before) / frame * frame;
    capture_->leadIn.assign(capture_->recent.begin() + static_cast<std::ptrdiff_t>(before - keep),
                            capture_->recent.begin() + static_cast<std::ptrdiff_t>(before));
    capture_->held = std::move(unencoded);
    // Kept running for a moment, for the next segment of a rotation; closed if none comes.
    capture_->closeTimer = connection_->after(
        options_.handoverWindow,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            auto* self = static_cast<PulseSegmentRecorder*>(userdata);
            if (self->capture_ && self->capture_->writer == nullptr) self->capture_.reset();
        },
        this);
}

std::unique_ptr<PulseSegmentRecorder::Capture> PulseSegmentRecorder::openCapture(int sampleRate) {
    const auto found = connection_->defaultSource(options_.timeout);
    if (const auto* error = std::get_if<std::string>(&found)) {
        systemLog("MeetingRecorder: no microphone: " + *error);
        return nullptr;
    }
    const auto& source = std::get<PulseConnection::Source>(found);
    if (source.monitor) {
        systemLog("MeetingRecorder: no microphone: the default source " + source.name + " is an output's monitor");
        return nullptr;
    }
    if (source.muted) {
        systemLog("MeetingRecorder: the microphone " + source.name + " is muted");
        return nullptr;
    }
    // A suspended microphone is usually only idle: the stream wakes it. Whether something else holds
    // it suspended shows once the stream is ready.

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(sampleRate), 1};
    auto capture = std::make_unique<Capture>();
    capture->owner = this;
    capture->loop = loop_;
    capture->rate = sampleRate;
    capture->source = source.name;
    capture->stream.reset(pa_stream_new(context_, kStreamName, &spec, nullptr));
    if (!capture->stream) {
        systemLog("MeetingRecorder: capture did not start: " + connection_->lastError());
        return nullptr;
    }
    pa_stream* stream = capture->stream.get();
    pa_stream_set_state_callback(stream, &PulseSegmentRecorder::onStreamState, capture.get());
    pa_stream_set_read_callback(stream, &PulseSegmentRecorder::onStreamRead, capture.get());
    pa_stream_set_suspended_callback(stream, &PulseSegmentRecorder::onStreamSuspended, capture.get());

    const pa_buffer_attr attributes =
        recordBuffering(std::chrono::duration_cast<std::chrono::microseconds>(options_.fragment), spec);
    // Not moved elsewhere when the microphone goes: that is an interruption.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source.name.c_str(), &attributes, flags) < 0) {
        systemLog("MeetingRecorder: capture did not start: " + connection_->lastError());
        return nullptr;
    }
    const bool settled = connection_->waitFor(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        options_.timeout);
    if (!settled || pa_stream_get_state(stream) != PA_STREAM_READY) {
        systemLog("MeetingRecorder: capture did not start: " +
                  (settled ? connection_->lastError() : std::string(pa_strerror(PA_ERR_TIMEOUT))));
        return nullptr;
    }
    if (pa_stream_is_suspended(stream) == 1) {
        systemLog("MeetingRecorder: the microphone " + source.name + " is held suspended");
        return nullptr;
    }
    return capture;
}

// ---- On the connection's thread --------------------------------------------------------------------

void PulseSegmentRecorder::deliver(Capture& capture, const float* samples, std::size_t frames) {
    if (options_.signals) options_.signals->heard(RecordingSignals::Input::microphone, samples, frames);
    if (capture.writer != nullptr) {
        capture.writer->append(samples, frames);
        framesRecorded_ += static_cast<std::int64_t>(frames);
        // The writer logged it and writes nothing more; the recorder ends the recording.
        if (capture.writer->error() && options_.signals) options_.signals->writeFailed(*capture.writer->error());
    } else if (capture.held.size() < kMostHeldSeconds * static_cast<std::size_t>(capture.rate)) {
        capture.held.insert(capture.held.end(), samples, samples + frames);
    }
    capture.recent.insert(capture.recent.end(), samples, samples + frames);
    // A lead-in, and the part of an encoder frame a rotation hands on after it.
    const std::size_t keep = options_.leadInFrames + kLongestEncoderFrame;
    if (capture.recent.size() > 2 * keep) {
        capture.recent.erase(capture.recent.begin(), capture.recent.end() - static_cast<std::ptrdiff_t>(keep));
    }
}

void PulseSegmentRecorder::checkMute() {
    if (!options_.signals || !capture_ || context_ == nullptr) return;
    muteQuery_ = askWhetherMuted(context_, capture_->source, *options_.signals);
}

void PulseSegmentRecorder::onStreamRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& capture = *static_cast<Capture*>(userdata);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
        const std::size_t frames = bytes / sizeof(float);
        if (data == nullptr) {
            // A hole in the stream: silence keeps the timeline.
            const std::vector<float> silence(frames, 0.0f);
            capture.owner->deliver(capture, silence.data(), frames);
        } else {
            capture.owner->deliver(capture, static_cast<const float*>(data), frames);
        }
        pa_stream_drop(stream);
    }
}

void PulseSegmentRecorder::onStreamState(pa_stream* stream, void* userdata) {
    auto& capture = *static_cast<Capture*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) capture.ready = true;
    if (!PA_STREAM_IS_GOOD(state) && capture.ready && !capture.lost) {
        capture.lost = true;
        if (capture.writer != nullptr) capture.owner->interruptionBegan();
    }
    PulseConnection::wake(capture.loop);
}

void PulseSegmentRecorder::onStreamSuspended(pa_stream* stream, void* userdata) {
    auto& capture = *static_cast<Capture*>(userdata);
    if (pa_stream_is_suspended(stream) == 1 && !capture.lost) {
        capture.lost = true;
        if (capture.writer != nullptr) capture.owner->interruptionBegan();
    }
}

}  // namespace orvan
