#include "linux/pulse/PulseRecordingStreams.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <charconv>
#include <cstring>
#include <string_view>

#include "platform/SystemLog.h"

namespace orvan {

namespace {

constexpr pa_usec_t kReconnectDelay = 2 * PA_USEC_PER_SEC;

std::string property(const pa_proplist* list, const char* key) {
    const char* value = list != nullptr ? pa_proplist_gets(list, key) : nullptr;
    return value != nullptr ? value : "";
}

}  // namespace

PulseRecordingStreams::PulseRecordingStreams(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) return;
    pa_threaded_mainloop_lock(mainloop_);
    connectContext();
    pa_threaded_mainloop_unlock(mainloop_);
    if (pa_threaded_mainloop_start(mainloop_) < 0) systemLog("Kestrin: マイクの使用状況を読み取れません");
}

PulseRecordingStreams::~PulseRecordingStreams() {
    if (mainloop_ == nullptr) return;
    pa_threaded_mainloop_stop(mainloop_);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(mainloop_);
}

void PulseRecordingStreams::connectContext() {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "OrvanOffice meeting watch");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), nullptr, properties);
    pa_proplist_free(properties);
    if (context_ == nullptr) return;
    pa_context_set_state_callback(
        context_, [](pa_context*, void* self) { static_cast<PulseRecordingStreams*>(self)->contextStateChanged(); }, this);
    // Waits for a server that is not there yet instead of failing.
    pa_context_connect(context_, nullptr, PA_CONTEXT_NOFAIL, nullptr);
}

void PulseRecordingStreams::contextStateChanged() {
    switch (pa_context_get_state(context_)) {
        case PA_CONTEXT_READY: {
            pa_context_set_subscribe_callback(
                context_,
                [](pa_context*, pa_subscription_event_type_t type, uint32_t index, void* self) {
                    static_cast<PulseRecordingStreams*>(self)->subscriptionEvent(type, index);
                },
                this);
            const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
            if (pa_operation* op = pa_context_subscribe(context_, mask, nullptr, nullptr)) pa_operation_unref(op);
            if (pa_operation* op = pa_context_get_source_info_list(
                    context_,
                    [](pa_context*, const pa_source_info* info, int eol, void* self) {
                        if (eol == 0 && info != nullptr) static_cast<PulseRecordingStreams*>(self)->sourceSeen(*info);
                    },
                    this))
                pa_operation_unref(op);
            if (pa_operation* op = pa_context_get_source_output_info_list(
                    context_,
                    [](pa_context*, const pa_source_output_info* info, int eol, void* self) {
                        if (eol == 0 && info != nullptr) static_cast<PulseRecordingStreams*>(self)->sourceOutputSeen(*info);
                    },
                    this))
                pa_operation_unref(op);
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED: {
            {
                std::lock_guard lock(mutex_);
                streams_.clear();
                sourceIsMonitor_.clear();
            }
            // Try again a little later: the context is not released inside its own callback.
            pa_context_rttime_new(
                context_, pa_rtclock_now() + kReconnectDelay,
                [](pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* data) {
                    auto* self = static_cast<PulseRecordingStreams*>(data);
                    api->time_free(event);
                    pa_context_set_state_callback(self->context_, nullptr, nullptr);
                    pa_context_set_subscribe_callback(self->context_, nullptr, nullptr);
                    pa_context_unref(self->context_);
                    self->context_ = nullptr;
                    self->connectContext();
                },
                this);
            break;
        }
        default:
            break;
    }
}

void PulseRecordingStreams::subscriptionEvent(unsigned facilityAndType, uint32_t index) {
    const unsigned facility = facilityAndType & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned type = facilityAndType & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
        std::lock_guard lock(mutex_);
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) streams_.erase(index);
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) sourceIsMonitor_.erase(index);
        return;
    }
    pa_operation* op = nullptr;
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) {
        op = pa_context_get_source_output_info(
            context_, index,
            [](pa_context*, const pa_source_output_info* info, int eol, void* self) {
                if (eol == 0 && info != nullptr) static_cast<PulseRecordingStreams*>(self)->sourceOutputSeen(*info);
            },
            this);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
        op = pa_context_get_source_info_by_index(
            context_, index,
            [](pa_context*, const pa_source_info* info, int eol, void* self) {
                if (eol == 0 && info != nullptr) static_cast<PulseRecordingStreams*>(self)->sourceSeen(*info);
            },
            this);
    }
    if (op != nullptr) pa_operation_unref(op);
}

void PulseRecordingStreams::sourceSeen(const pa_source_info& info) {
    std::lock_guard lock(mutex_);
    sourceIsMonitor_[info.index] = info.monitor_of_sink != PA_INVALID_INDEX;
}

void PulseRecordingStreams::sourceOutputSeen(const pa_source_output_info& info) {
    RecordingStream stream;
    const std::string pid = property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID);
    std::from_chars(pid.data(), pid.data() + pid.size(), stream.processId);
    stream.processBinary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    stream.applicationName = property(info.proplist, PA_PROP_APPLICATION_NAME);
    stream.mediaName = property(info.proplist, PA_PROP_MEDIA_NAME);
    stream.mediaRole = property(info.proplist, PA_PROP_MEDIA_ROLE);
    stream.resampleMethod = info.resample_method != nullptr ? info.resample_method : "";
    stream.corked = info.corked != 0;

    std::lock_guard lock(mutex_);
    auto existing = streams_.find(info.index);
    const bool wasRecording = existing != streams_.end() && !existing->second.stream.corked;
    // The time it has recorded counts from its last un-pause.
    stream.activeSince = wasRecording ? existing->second.stream.activeSince : clock_->now();
    streams_[info.index] = Tracked{std::move(stream), info.source};
}

std::vector<RecordingStream> PulseRecordingStreams::list() {
    std::lock_guard lock(mutex_);
    std::vector<RecordingStream> streams;
    streams.reserve(streams_.size());
    for (const auto& [index, tracked] : streams_) {
        streams.push_back(tracked.stream);
        const auto source = sourceIsMonitor_.find(tracked.source);
        streams.back().fromMonitor = source != sourceIsMonitor_.end() && source->second;
    }
    return streams;
}

}  // namespace orvan
