#include "linux/pulse/PulseSystemAudio.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/SystemLog.h"
#include "linux/ffmpeg/FfmpegObjects.h"
#include "linux/pulse/PulseConnection.h"
#include "recording/StreamClock.h"

namespace orvan {

namespace {

constexpr std::chrono::milliseconds kTimeout{3000};
constexpr int kRate = SystemAudioCapture::kSampleRate;
constexpr std::chrono::microseconds kFragment{50000};
// The server's latency readings settle only after the first seconds; samples wait until then.
constexpr double kAnchorFrom = 2.0;
constexpr double kAnchorUntil = 3.0;
// A device that fails again and again is given up after this many reconnections within the window.
constexpr std::size_t kReconnects = 3;
constexpr double kReconnectWindow = 10.0;

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---- Converters ------------------------------------------------------------------------------------

class SwrConverter final : public AudioConverting {
public:
    SwrConverter(ffmpeg::ResamplerPtr resampler, const CaptureFormat& input)
        : resampler_(std::move(resampler)), input_(input) {}
    std::optional<std::vector<float>> convert(const void* samples, std::size_t frames, std::size_t capacity) override {
        std::vector<float> out(capacity);
        auto* outPlane = reinterpret_cast<std::uint8_t*>(out.data());
        const auto* inPlane = static_cast<const std::uint8_t*>(samples);
        const int converted = swr_convert(resampler_.get(), &outPlane, static_cast<int>(capacity), &inPlane,
                                          static_cast<int>(frames));
        if (converted < 0) return std::nullopt;
        out.resize(static_cast<std::size_t>(converted));
        return out;
    }

private:
    ffmpeg::ResamplerPtr resampler_;
    CaptureFormat input_;
};

}  // namespace

std::unique_ptr<AudioConverting> SwrAudioConverters::make(const CaptureFormat& input) {
    if (input.channels < 1 || input.sampleRate <= 0 || !input.interleaved) return nullptr;
    AVChannelLayout inLayout{};
    AVChannelLayout outLayout{};
    av_channel_layout_default(&inLayout, input.channels);
    av_channel_layout_default(&outLayout, 1);
    SwrContext* raw = nullptr;
    const AVSampleFormat inFormat = input.kind == SampleKind::float32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
    const int status = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, kRate, &inLayout, inFormat,
                                           input.sampleRate, 0, nullptr);
    ffmpeg::ResamplerPtr resampler(raw);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (status < 0 || !resampler || swr_init(resampler.get()) < 0) return nullptr;
    return std::make_unique<SwrConverter>(std::move(resampler), input);
}

namespace {

// ---- The two streams -------------------------------------------------------------------------------

class PulseCaptureStreams;

const char* describe(CaptureOutputType type) {
    return type == CaptureOutputType::systemAudio ? "system audio" : "microphone";
}

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
    // Buffers go onto the capture's queue without the capture being held from the sound server's
    // thread: the capture must never end there.
    PulseCaptureStreams(std::unique_ptr<PulseConnection> connection, const std::shared_ptr<SystemAudioCapture>& capture,
                        bool mendDrift)
        : connection_(std::move(connection)), queue_(capture->sharedQueue()), capture_(capture), mendDrift_(mendDrift) {}
    ~PulseCaptureStreams() override { close(); }

    // With the lock held, not on the loop's thread: opens the stream of `type` on `source` and waits
    // until it records; the server's text when it cannot.
    std::optional<std::string> open(CaptureOutputType type, const std::string& source) {
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

    // With the lock held: from now on a lost connection is reported and changes of the server's
    // defaults are followed.
    void watch() {
        pa_context* context = connection_->context();
        pa_context_set_state_callback(context, &PulseCaptureStreams::onContextState, this);
        pa_context_set_subscribe_callback(context, &PulseCaptureStreams::onServerEvent, this);
        subscription_.reset(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
        watching_ = true;
        // The defaults may have changed while the streams were opening.
        refresh();
    }

    PulseConnection& connection() { return *connection_; }

    void settle() override {
        if (!connection_) return;
        PulseConnection::Lock lock(*connection_);
        placeHeld();
    }

    void stop(std::function<void()> done) override {
        close();
        // After every buffer handed over before it.
        queue_->async(std::move(done));
    }

private:
    // With the lock held: streams still waiting for settled readings place what they hold now.
    void placeHeld() {
        for (auto& [type, record] : active_) {
            if (record && !record->clock) fixAnchor(*record);
        }
    }

    void close() {
        if (!connection_) return;
        {
            PulseConnection::Lock lock(*connection_);
            stopping_ = true;
            pa_context_set_state_callback(connection_->context(), nullptr, nullptr);
            pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
            subscription_.reset();
            serverQuery_.reset();
            sinkQuery_.reset();
            // A short recording never reached the settled readings: the ones there are do.
            placeHeld();
            active_.clear();
            retired_.clear();
        }
        connection_.reset();
    }

    // With the lock held: a new stream of `type` connecting to `source`; none when the server
    // refuses at once.
    std::unique_ptr<RecordStream> connect(CaptureOutputType type, const std::string& source) {
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

    // With the lock held: ends the stream of `type`, handing over what it still holds.
    void retire(CaptureOutputType type) {
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

    // With the lock held: the stream of `type` records from `source` from now on.
    void follow(CaptureOutputType type, const std::string& source) {
        auto found = active_.find(type);
        if (found != active_.end() && found->second && found->second->source == source) {
            if (!found->second->failed) return;
            const std::string failure = found->second->failure;
            // The same device again: it went and came back under its name (a headset changing its
            // profile). A few times, not for ever: a device that fails at once would keep failing.
            auto& attempts = reconnects_[type];
            const double now = monotonicSeconds();
            std::erase_if(attempts, [now](double at) { return now - at > kReconnectWindow; });
            if (attempts.size() < kReconnects) {
                attempts.push_back(now);
                retire(type);
                if (auto record = connect(type, source)) {
                    systemLog(std::string("SystemAudioCapture reconnects the ") + describe(type) + " to " + source);
                    active_[type] = std::move(record);
                    return;
                }
            }
            // The default itself keeps failing: no other device to go to.
            if (type == CaptureOutputType::systemAudio) {
                lost(failure);
            } else {
                systemLog("SystemAudioCapture has no microphone; the system audio goes on alone");
                retire(type);
            }
            return;
        }
        retire(type);
        auto record = connect(type, source);
        if (!record) {
            systemLog(std::string("SystemAudioCapture cannot follow the ") + describe(type) + " to " + source + ": " +
                      connection_->lastError());
            if (type == CaptureOutputType::systemAudio) lost(connection_->lastError());
            return;
        }
        systemLog(std::string("SystemAudioCapture follows the ") + describe(type) + " to " + source);
        active_[type] = std::move(record);
    }

    // With the lock held, on any thread: asks the server for its defaults and follows them.
    void refresh() {
        if (stopping_ || !watching_) return;
        if (refreshing_) {
            refreshAgain_ = true;
            return;
        }
        refreshing_ = true;
        // Nothing runs inside a retired stream's callbacks any more: they were taken away.
        retired_.clear();
        serverQuery_.reset(pa_context_get_server_info(connection_->context(), &PulseCaptureStreams::onServerInfo, this));
        if (!serverQuery_) {
            refreshing_ = false;
            lost(connection_->lastError());
        }
    }

    // The server could not say what its defaults are (the sink went between the two questions, or
    // the connection is going): the streams stay as they are, and a failed one is asked about again.
    void defaultsUnknown() {
        refreshing_ = false;
        bool failed = false;
        for (const auto& [type, record] : active_) failed = failed || (record && record->failed);
        if ((failed || refreshAgain_) && unknownAnswers_++ < kReconnects) {
            refreshAgain_ = false;
            refresh();
            return;
        }
        refreshAgain_ = false;
        auto system = active_.find(CaptureOutputType::systemAudio);
        if (system != active_.end() && system->second && system->second->failed) lost(system->second->failure);
    }

    void defaultsFound(const std::string& monitor) {
        refreshing_ = false;
        unknownAnswers_ = 0;
        if (monitor.empty()) {
            // No output at all: the system audio goes on from its stream while that lives.
            auto system = active_.find(CaptureOutputType::systemAudio);
            if (system == active_.end() || !system->second || system->second->failed) {
                lost(system != active_.end() && system->second ? system->second->failure
                                                               : std::string(pa_strerror(PA_ERR_NOENTITY)));
            }
        } else {
            follow(CaptureOutputType::systemAudio, monitor);
        }
        // Without a microphone the default source falls back to the output's monitor: that would
        // only record the system audio twice.
        if (defaultSource_.empty() || defaultSource_ == monitor) {
            if (active_.count(CaptureOutputType::microphone) != 0) {
                systemLog("SystemAudioCapture has no microphone; the system audio goes on alone");
                retire(CaptureOutputType::microphone);
            }
        } else {
            follow(CaptureOutputType::microphone, defaultSource_);
        }
        if (refreshAgain_) {
            refreshAgain_ = false;
            refresh();
        }
    }

    // Through the stream's clock onto the timeline: each buffer is stamped with the time of its first
    // output frame, so consecutive buffers continue sample by sample.
    void hand(RecordStream& record, const std::vector<float>& input) {
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

    void fixAnchor(RecordStream& record) {
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

    void read(RecordStream& record) {
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

    void lost(const std::string& description) {
        if (stopping_ || reported_) return;
        reported_ = true;
        queue_->async([weak = capture_, description] {
            if (auto capture = weak.lock()) capture->streamStopped(description);
        });
    }

    static void onRead(pa_stream*, std::size_t, void* userdata) {
        auto* record = static_cast<RecordStream*>(userdata);
        record->owner->read(*record);
    }
    static void onState(pa_stream* stream, void* userdata) {
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
    static void onContextState(pa_context* context, void* userdata) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            static_cast<PulseCaptureStreams*>(userdata)->lost(pa_strerror(pa_context_errno(context)));
        }
    }
    static void onServerEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* userdata) {
        if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
            static_cast<PulseCaptureStreams*>(userdata)->refresh();
        }
    }
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<PulseCaptureStreams*>(userdata);
        if (info == nullptr) {
            self->defaultsUnknown();
            return;
        }
        self->defaultSource_ = info->default_source_name != nullptr ? info->default_source_name : "";
        const std::string sink = info->default_sink_name != nullptr ? info->default_sink_name : "";
        if (sink.empty()) {
            self->defaultsFound({});
            return;
        }
        self->sinkFound_ = false;
        self->monitor_.clear();
        self->sinkQuery_.reset(pa_context_get_sink_info_by_name(context, sink.c_str(), &PulseCaptureStreams::onSinkInfo, self));
        if (!self->sinkQuery_) self->defaultsUnknown();
    }
    static void onSinkInfo(pa_context*, const pa_sink_info* info, int end, void* userdata) {
        auto* self = static_cast<PulseCaptureStreams*>(userdata);
        if (end == 0 && info != nullptr) {
            self->sinkFound_ = true;
            if (info->monitor_source_name != nullptr) self->monitor_ = info->monitor_source_name;
            return;
        }
        if (self->sinkFound_) {
            self->defaultsFound(self->monitor_);
        } else {
            self->defaultsUnknown();
        }
    }

    std::unique_ptr<PulseConnection> connection_;
    std::shared_ptr<SerialQueue> queue_;
    std::weak_ptr<SystemAudioCapture> capture_;
    bool mendDrift_;
    // With the connection's lock held.
    std::map<CaptureOutputType, std::unique_ptr<RecordStream>> active_;
    std::vector<std::unique_ptr<RecordStream>> retired_;
    PulseOperationPtr subscription_;
    PulseOperationPtr serverQuery_;
    PulseOperationPtr sinkQuery_;
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

}  // namespace

void PulseSystemAudio::start(const std::filesystem::path& dir, std::function<void(Started)> done) {
    // Connecting waits for the server: never on the recorder's queue.
    jobs_.run([ports = ports_, mendDrift = mendDrift_, dir, done = std::move(done)]() mutable {
        auto opened = PulseConnection::open(kTimeout);
        if (const auto* error = std::get_if<std::string>(&opened)) {
            done(RecordingFailure(CaptureError::permissionDenied(*error).asSystemError()));
            return;
        }
        auto connection = std::move(std::get<std::unique_ptr<PulseConnection>>(opened));
        std::string monitor;
        std::string microphone;
        {
            PulseConnection::Lock lock(*connection);
            auto found = connection->defaults(kTimeout);
            // The server cannot name its output: there is none to capture.
            if (std::holds_alternative<std::string>(found)) {
                done(RecordingFailure(CaptureError::noDisplay().asSystemError()));
                return;
            }
            const auto defaults = std::get<PulseConnection::Defaults>(found);
            auto output = defaults.sink.empty() ? std::nullopt : connection->monitorOf(defaults.sink, kTimeout);
            if (!output) {
                done(RecordingFailure(CaptureError::noDisplay().asSystemError()));
                return;
            }
            monitor = *output;
            // Without a microphone the default source is an output's monitor, or there is none: the
            // system audio is recorded alone and the microphone's track stays silent.
            if (!defaults.source.empty()) {
                const auto source = connection->defaultSource(kTimeout);
                const auto* info = std::get_if<PulseConnection::Source>(&source);
                if (info == nullptr || !info->monitor) microphone = defaults.source;
            }
        }
        auto created = SystemAudioCapture::create(dir, ports);
        if (const auto* error = std::get_if<SystemError>(&created)) {
            done(RecordingFailure(*error));
            return;
        }
        auto capture = std::get<std::shared_ptr<SystemAudioCapture>>(created);
        auto streams = std::make_shared<PulseCaptureStreams>(std::move(connection), capture, mendDrift);
        {
            PulseConnection::Lock lock(streams->connection());
            if (auto error = streams->open(CaptureOutputType::systemAudio, monitor)) {
                done(RecordingFailure(CaptureError::permissionDenied(*error).asSystemError()));
                return;
            }
            if (!microphone.empty() && microphone != monitor) {
                if (auto error = streams->open(CaptureOutputType::microphone, microphone)) {
                    done(RecordingFailure(CaptureError::permissionDenied(*error).asSystemError()));
                    return;
                }
            }
            streams->watch();
        }
        capture->attach(streams);
        done(std::shared_ptr<SystemAudioCapturing>(capture));
    });
}

}  // namespace orvan
