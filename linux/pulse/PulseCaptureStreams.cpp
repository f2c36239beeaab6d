#include "linux/pulse/PulseCaptureStreams.h"

#include <cstring>

#include "platform/SystemLog.h"

namespace orvan {

namespace {

constexpr int kRate = SystemAudioCapture::kSampleRate;
constexpr std::chrono::microseconds kFragment{50000};
// The server's latency readings settle only after the first seconds; samples wait until then.
constexpr double kAnchorFrom = 2.0;
constexpr double kAnchorUntil = 3.0;

}  // namespace

std::optional<std::string> PulseCaptureStreams::open(CaptureOutputType type, const std::string& source) {
    auto record = connect(type, source);
    if (!record) return connection_->lastError();
    pa_stream* stream = record->stream.get();
    const bool settled = connection_->waitFor(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        kTimeout);
    if (!settled) return std::string(pa_strerror(PA_ERR_TIMEOUT));
    if (pa_stream_get_state(stream) != PA_STREAM_READY) return connection_->lastError();
    active_[type] = std::move(record);
    return std::nullopt;
}

void PulseCaptureStreams::watch() {
    pa_context* context = connection_->context();
    pa_context_set_state_callback(context, &PulseCaptureStreams::onContextState, this);
    pa_context_set_subscribe_callback(context, &PulseCaptureStreams::onServerEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE);
    subscription_.reset(pa_context_subscribe(context, mask, nullptr, nullptr));
    watching_ = true;
    // The defaults may have changed while the streams were opening.
    refresh();
    checkMute();
}

void PulseCaptureStreams::settle() {
    if (!connection_) return;
    PulseConnection::Lock lock(*connection_);
    placeHeld();
}

void PulseCaptureStreams::stop(std::function<void()> done) {
    close();
    // After every buffer handed over before it.
    queue_->async(std::move(done));
}

void PulseCaptureStreams::placeHeld() {
    for (auto& [type, record] : active_) {
        if (record && !record->clock) fixAnchor(*record);
    }
}

void PulseCaptureStreams::close() {
    if (!connection_) return;
    {
        PulseConnection::Lock lock(*connection_);
        stopping_ = true;
        pa_context_set_state_callback(connection_->context(), nullptr, nullptr);
        pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
        subscription_.reset();
        serverQuery_.reset();
        sinkQuery_.reset();
        muteQuery_.reset();
        // A short recording never reached the settled readings: the ones there are do.
        placeHeld();
        active_.clear();
        retired_.clear();
    }
    connection_.reset();
}

std::unique_ptr<RecordStream> PulseCaptureStreams::connect(CaptureOutputType type, const std::string& source) {
    auto record = std::make_unique<RecordStream>();
    record->owner = this;
    record->type = type;
    record->source = source;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 1};
    record->stream.reset(pa_stream_new(connection_->context(),
                                       type == CaptureOutputType::systemAudio ? "会議の相手" : "会議のマイク",
                                       &spec, nullptr));
    if (!record->stream) return nullptr;
    pa_stream* stream = record->stream.get();
    pa_stream_set_read_callback(stream, &PulseCaptureStreams::onRead, record.get());
    pa_stream_set_state_callback(stream, &PulseCaptureStreams::onState, record.get());
    const pa_buffer_attr attributes = recordBuffering(kFragment, spec);
    // Not moved by the server when its device goes: the server would pick any source, even the
    // microphone for the system audio. A lost device is followed here instead.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source.c_str(), &attributes, flags) < 0) return nullptr;
    return record;
}

void PulseCaptureStreams::retire(CaptureOutputType type) {
    auto found = active_.find(type);
    if (found == active_.end() || !found->second) return;
    auto record = std::move(found->second);
    active_.erase(found);
    if (!record->clock) fixAnchor(*record);
    // Freed with the others at the end: this may run inside the stream's own callback.
    pa_stream_set_read_callback(record->stream.get(), nullptr, nullptr);
    pa_stream_set_state_callback(record->stream.get(), nullptr, nullptr);
    // Still connecting counts too: it would otherwise go on recording into nowhere.
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(record->stream.get()))) pa_stream_disconnect(record->stream.get());
    retired_.push_back(std::move(record));
}

void PulseCaptureStreams::hand(RecordStream& record, const std::vector<float>& input) {
    if (input.empty()) return;
    const double time = record.clock->anchor() + static_cast<double>(record.clock->outputFrames()) / kRate;
    auto samples = record.clock->place(input.data(), input.size());
    if (samples.empty()) return;
    queue_->async([weak = capture_, type = record.type, time, samples = std::move(samples)] {
        auto owner = weak.lock();
        if (!owner) return;
        CapturedBuffer buffer{.type = type,
                              .valid = true,
                              .presentationTime = time,
                              .format = CaptureFormat{.sampleRate = kRate, .channels = 1},
                              .samples = samples.data(),
                              .frames = samples.size()};
        owner->handle(buffer);
    });
}

void PulseCaptureStreams::fixAnchor(RecordStream& record) {
    double anchor = 0;
    if (record.readings.empty()) {
        // Without any latency reading, arrival is the best there is: a few tens of milliseconds late.
        if (!record.early && !record.firstData) return;
        anchor = record.early ? *record.early : *record.firstData;
    } else {
        double sum = 0;
        for (double reading : record.readings) sum += reading;
        anchor = sum / static_cast<double>(record.readings.size());
    }
    record.clock.emplace(anchor, StreamClock::Options{.rate = kRate, .mend = mendDrift_});
    for (const auto& samples : record.held) hand(record, samples);
    record.held.clear();
}

void PulseCaptureStreams::read(RecordStream& record) {
    pa_stream* stream = record.stream.get();
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
        const double now = monotonicSeconds();
        if (!record.firstData) record.firstData = now;
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
            const double age = negative ? -static_cast<double>(latency) / 1e6 : static_cast<double>(latency) / 1e6;
            // The next unread sample is `age` old.
            const double capturedAt = now - age;
            if (record.clock) {
                record.clock->observe(record.framesRead, capturedAt);
            } else {
                // When sample 0 was captured.
                const double reading = capturedAt - static_cast<double>(record.framesRead) / kRate;
                if (now - *record.firstData < kAnchorFrom) {
                    record.early = reading;
                } else {
                    record.readings.push_back(reading);
                }
            }
        }
        const std::size_t frames = bytes / sizeof(float);
        std::vector<float> samples(frames, 0.0f);
        // No data: a hole in the stream, which is silence.
        if (data != nullptr) std::memcpy(samples.data(), data, frames * sizeof(float));
        // As they come, not once placed on the timeline a few seconds later: the meters react at once.
        if (signals_) {
            signals_->heard(record.type == CaptureOutputType::systemAudio ? RecordingSignals::Input::systemAudio
                                                                          : RecordingSignals::Input::microphone,
                            samples.data(), frames);
        }
        pa_stream_drop(stream);
        record.framesRead += frames;
        if (record.clock) {
            hand(record, samples);
        } else {
            record.held.push_back(std::move(samples));
            // Held for a few seconds at most, whether or not the server gave its timing.
            if (now - *record.firstData >= kAnchorUntil) fixAnchor(record);
        }
    }
}

void PulseCaptureStreams::lost(const std::string& description) {
    if (stopping_ || reported_) return;
    reported_ = true;
    queue_->async([weak = capture_, description] {
        if (auto capture = weak.lock()) capture->streamStopped(description);
    });
}

void PulseCaptureStreams::onRead(pa_stream*, std::size_t, void* userdata) {
    auto* record = static_cast<RecordStream*>(userdata);
    record->owner->read(*record);
}

void PulseCaptureStreams::onState(pa_stream* stream, void* userdata) {
    auto* record = static_cast<RecordStream*>(userdata);
    auto* owner = record->owner;
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && !record->failed) {
        record->failed = true;
        record->failure = pa_strerror(pa_context_errno(pa_stream_get_context(stream)));
        systemLog(std::string("SystemAudioCapture lost the ") + describe(record->type) + " " + record->source +
                  ": " + record->failure);
        // Its device went: the server's new default takes over, if there is one.
        owner->refresh();
    }
    // The start waits for the stream to settle.
    PulseConnection::wake(owner->connection().loop());
}

void PulseCaptureStreams::onContextState(pa_context* context, void* userdata) {
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        static_cast<PulseCaptureStreams*>(userdata)->lost(pa_strerror(pa_context_errno(context)));
    }
}

}  // namespace orvan
