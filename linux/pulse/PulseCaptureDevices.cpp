// The devices the capture follows: the server's default output and microphone as they change, and
// whether that microphone is muted.
#include "linux/pulse/PulseCaptureStreams.h"

#include "platform/SystemLog.h"

namespace orvan {

namespace {

// A device that fails again and again is given up after this many reconnections within the window.
constexpr std::size_t kReconnects = 3;
constexpr double kReconnectWindow = 10.0;

}  // namespace

void PulseCaptureStreams::follow(CaptureOutputType type, const std::string& source) {
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

void PulseCaptureStreams::refresh() {
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

void PulseCaptureStreams::defaultsUnknown() {
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

void PulseCaptureStreams::defaultsFound(const std::string& monitor) {
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
    checkMute();
    if (refreshAgain_) {
        refreshAgain_ = false;
        refresh();
    }
}

void PulseCaptureStreams::onServerEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* userdata) {
    auto* self = static_cast<PulseCaptureStreams*>(userdata);
    const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) self->refresh();
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) self->checkMute();
}

void PulseCaptureStreams::checkMute() {
    if (stopping_ || !signals_) return;
    auto found = active_.find(CaptureOutputType::microphone);
    if (found == active_.end() || !found->second) {
        // No microphone stream: its silence is what tells.
        signals_->setMicrophoneMuted(false);
        return;
    }
    muteQuery_ = askWhetherMuted(connection_->context(), found->second->source, *signals_);
}

void PulseCaptureStreams::onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
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

void PulseCaptureStreams::onSinkInfo(pa_context*, const pa_sink_info* info, int end, void* userdata) {
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

}  // namespace orvan
