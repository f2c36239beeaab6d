// The microphone's interruptions: when a capture stream is lost, whether and when the microphone is
// usable again.
#include <chrono>
#include <string>
#include <utility>
#include <variant>

#include "linux/pulse/PulseSegmentRecorder.h"

namespace orvan {

void PulseSegmentRecorder::interruptionBegan() {
    if (interrupted_ || context_ == nullptr) return;
    interrupted_ = true;
    notify(AudioInterruption::kBegan);
    // Whatever killed the stream may have left the microphone usable; look again in a moment.
    recheck_ = connection_->after(
        options_.recheckDelay,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            static_cast<PulseSegmentRecorder*>(userdata)->lookForMicrophone();
        },
        this);
}

void PulseSegmentRecorder::onServerEvent(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* userdata) {
    auto* self = static_cast<PulseSegmentRecorder*>(userdata);
    if (self->interrupted_) self->lookForMicrophone();
    self->checkMute();
}

void PulseSegmentRecorder::lookForMicrophone() {
    if (!interrupted_ || context_ == nullptr) return;
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
        // The server went away: this connection will never answer again.
        watchForServer();
        return;
    }
    PulseOperationPtr ask(pa_context_get_server_info(
        context_,
        [](pa_context* context, const pa_server_info* info, void* userdata) {
            auto* self = static_cast<PulseSegmentRecorder*>(userdata);
            if (!self->interrupted_ || self->context_ == nullptr || info == nullptr ||
                info->default_source_name == nullptr) {
                return;
            }
            self->lookingFor_ = info->default_source_name;
            PulseOperationPtr next(pa_context_get_source_info_by_name(
                context, self->lookingFor_.c_str(),
                [](pa_context*, const pa_source_info* source, int end, void* data) {
                    auto* recorder = static_cast<PulseSegmentRecorder*>(data);
                    if (end != 0 || source == nullptr || !recorder->interrupted_ || recorder->context_ == nullptr) return;
                    recorder->microphoneFound(*source);
                },
                self));
            // Its answer comes later on this thread; the operation itself is not needed.
            if (next) pa_operation_unref(next.release());
        },
        this));
    if (ask) pa_operation_unref(ask.release());
}

void PulseSegmentRecorder::microphoneFound(const pa_source_info& source) {
    if (source.monitor_of_sink != PA_INVALID_INDEX || source.mute != 0) return;
    if (source.state == PA_SOURCE_SUSPENDED) {
        probe(source.name);
        return;
    }
    interrupted_ = false;
    recheck_.reset();
    notify(AudioInterruption::kEnded);
}

void PulseSegmentRecorder::probe(const std::string& source) {
    if (probe_) return;
    // Not more often than the recheck: the probe's own coming and going may be reported as a change.
    const pa_usec_t now = pa_rtclock_now();
    const auto spacing = static_cast<pa_usec_t>(std::chrono::microseconds(options_.recheckDelay).count());
    if (lastProbe_ != 0 && now - lastProbe_ < spacing) {
        recheck_ = connection_->after(
            options_.recheckDelay,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
                static_cast<PulseSegmentRecorder*>(userdata)->lookForMicrophone();
            },
            this);
        return;
    }
    lastProbe_ = now;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 16000, 1};
    probe_.reset(pa_stream_new(context_, kStreamName, &spec, nullptr));
    if (!probe_) return;
    pa_stream_set_state_callback(probe_.get(), &PulseSegmentRecorder::onProbeState, this);
    if (pa_stream_connect_record(probe_.get(), source.c_str(), nullptr, PA_STREAM_DONT_MOVE) < 0) probe_.reset();
}

void PulseSegmentRecorder::onProbeState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseSegmentRecorder*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state != PA_STREAM_READY && PA_STREAM_IS_GOOD(state)) return;
    // Idle only: the stream woke it. Held suspended by something else: it stays so.
    const bool woke = state == PA_STREAM_READY && pa_stream_is_suspended(stream) == 0;
    // The library holds the stream for the length of this call.
    self->probe_.reset();
    if (woke && self->interrupted_) {
        self->interrupted_ = false;
        self->recheck_.reset();
        self->notify(AudioInterruption::kEnded);
    }
}

void PulseSegmentRecorder::watchForServer() {
    std::lock_guard guard(watchMutex_);
    if (watcher_.joinable()) return;
    watchStop_ = false;
    watcher_ = std::thread([this] {
        std::unique_lock lock(watchMutex_);
        while (!watchStop_) {
            watchWake_.wait_for(lock, options_.recheckDelay);
            if (watchStop_) return;
            lock.unlock();
            // A connection of its own: the old one died with the server.
            bool back = false;
            auto opened = PulseConnection::open(options_.timeout);
            if (auto* connection = std::get_if<std::unique_ptr<PulseConnection>>(&opened)) {
                PulseConnection::Lock connectionLock(**connection);
                const auto found = (*connection)->defaultSource(options_.timeout);
                const auto* source = std::get_if<PulseConnection::Source>(&found);
                back = source != nullptr && !source->monitor && !source->muted;
            }
            lock.lock();
            if (back && !watchStop_) {
                watchStop_ = true;
                lock.unlock();
                // The recorder activates the session again, which connects anew.
                notify(AudioInterruption::kEnded);
                return;
            }
        }
    });
}

void PulseSegmentRecorder::stopWatching() {
    std::thread watcher;
    {
        std::lock_guard lock(watchMutex_);
        watchStop_ = true;
        watcher = std::move(watcher_);
    }
    watchWake_.notify_all();
    if (!watcher.joinable()) return;
    if (watcher.get_id() == std::this_thread::get_id()) {
        watcher.detach();
    } else {
        watcher.join();
    }
}

void PulseSegmentRecorder::notify(std::uint64_t type) {
    std::function<void(const AudioInterruption&)> observer;
    {
        std::lock_guard lock(observerMutex_);
        observer = observer_;
    }
    if (observer) observer(AudioInterruption{type});
}

void PulseSegmentRecorder::observe(std::function<void(const AudioInterruption&)> observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = std::move(observer);
}

}  // namespace orvan
