#include "macshell/MeetingSession.h"

#include <any>
#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

MeetingSessionCoordinator::MeetingSessionCoordinator(Dependencies dependencies,
                                                     std::function<KestrinProtocol*()> plugin)
    : deps_(std::move(dependencies)), plugin_(std::move(plugin)) {
    std::weak_ptr<bool> alive = alive_;
    if (deps_.center) {
        healthObserver_ = deps_.center->addObserver(notification_names::kRecordingHealth,
                                                    [this, alive](const Notification& notification) {
            const auto* health = std::any_cast<RecordingHealth>(&notification.object);
            if (alive.lock() && health != nullptr) healthChanged(*health);
        });
    }
    if (!deps_.recorder) return;
    deps_.recorder->setListener({.startSettled = [this, alive](bool started) {
        // A start that failed leaves nothing to finish.
        if (alive.lock() && !started && !starting()) finishAfterStart_ = false;
    }});
}

void MeetingSessionCoordinator::showPopup(const std::string& phase, const std::string& label,
                                          const std::optional<std::string>& message) {
    if (KestrinProtocol* plugin = plugin_()) plugin->showMeetingPopup(phase, label, message);
}

void MeetingSessionCoordinator::hidePopup() {
    if (KestrinProtocol* plugin = plugin_()) plugin->hideMeetingPopup();
}

void MeetingSessionCoordinator::showRecordingPhase(const std::optional<std::string>& message) {
    showPopup(session_.paused ? "paused" : "recording", session_.displayLabel(), message);
}

void MeetingSessionCoordinator::setWarning(const std::optional<std::string>& warning) {
    if (warning == warning_) return;
    warning_ = warning;
    if (KestrinProtocol* plugin = plugin_()) plugin->setMeetingPopupWarning(warning);
}

void MeetingSessionCoordinator::healthChanged(const RecordingHealth& health) {
    // A report that crossed the recording's end.
    if (!session_.recording) return;
    if (health.writeFailure) {
        if (std::exchange(told_.writeFailure, true)) return;
        setWarning(RecordingHealth::kWriteFailedText);
        notify(RecordingHealth::kWriteFailedText, "ここまでの録音を保存します（" + *health.writeFailure + "）");
        finishRecording();
        return;
    }
    if (health.microphoneSilent && !std::exchange(told_.silent, true)) {
        notify(RecordingHealth::kMicrophoneSilentText, "マイクのミュートや接続を確かめてください。");
    }
    if (health.diskLow && !std::exchange(told_.diskLow, true)) {
        notify(RecordingHealth::kDiskLowText, "残りは録音10分ぶんほどです。不要なファイルを消して空きを作ってください。");
    }
    // The microphone first: a recording without it is lost now, a full disk only later.
    if (health.microphoneSilent) setWarning(RecordingHealth::kMicrophoneSilentText);
    else if (health.diskLow) setWarning(RecordingHealth::kDiskLowText);
    else setWarning(std::nullopt);
}

MeetingLevels MeetingSessionCoordinator::levels() {
    if (!deps_.signals || !session_.recording) return {};
    return {deps_.signals->takePeak(RecordingSignals::Input::microphone),
            deps_.signals->takePeak(RecordingSignals::Input::systemAudio)};
}

void MeetingSessionCoordinator::postFinish() {
    if (deps_.mainLoop == nullptr) return;
    std::weak_ptr<bool> alive = alive_;
    deps_.mainLoop->post([this, alive] {
        if (alive.lock()) finishRecording();
    });
}

void MeetingSessionCoordinator::handleMeetingEvent(const std::string& event, const std::optional<std::string>& label) {
    if (event == "started") {
        const bool wasPaused = session_.paused;
        // A recording being saved is over as far as a new meeting is concerned: it gets its invitation.
        const bool recording = session_.recording && !saving();
        session_ = MeetingSession{.label = label};
        std::string phase = "invite";
        if (recording) {
            session_.recording = true;
            session_.paused = wasPaused;
            phase = wasPaused ? "paused" : "recording";
        }
        inviteDuringSave_ = !recording && saving();
        showPopup(phase, session_.displayLabel(), std::nullopt);
    } else if (event == "ended") {
        const bool wasRecording = session_.recording;
        session_ = MeetingSession{};
        hidePopup();
        if (starting()) finishAfterStart_ = true;
        if (wasRecording) postFinish();
    } else if (event == "permission") {
        if (session_.needsPermission || session_.recording || session_.dismissed) return;
        session_.needsPermission = true;
        KestrinProtocol* plugin = plugin_();
        if (plugin == nullptr) return;
        if (plugin->requestScreenCaptureAccess()) session_.needsPermission = false;
        else plugin->showMeetingPopup("permission", "", std::nullopt);
    }
}

void MeetingSessionCoordinator::handlePopupAction(const std::string& action) {
    const std::string label = session_.displayLabel();
    std::weak_ptr<bool> alive = alive_;
    if (action == "start") {
        if (!deps_.recorder) return;
        deps_.recorder->start([this, alive, label](std::optional<RecordingFailure> failure) {
            if (!alive.lock()) return;
            if (!failure) recordingStarted();
            else if (!finishAfterStart_) showPopup("error", label, failure->description());
        });
    } else if (action == "pause" || action == "resume") {
        if (!deps_.recorder) return;
        const bool pausing = action == "pause";
        auto done = [this, alive, pausing](std::optional<RecordingFailure> failure) {
            if (!alive.lock()) return;
            if (!failure) setPaused(pausing);
            else showRecordingPhase(failure->description());
        };
        if (pausing) deps_.recorder->pause(done);
        else deps_.recorder->resume(done);
    } else if (action == "finish") {
        finishRecording();
    } else if (action == "dismiss") {
        session_.dismissed = true;
        session_.needsPermission = false;
        hidePopup();
    }
}

void MeetingSessionCoordinator::recordingStarted() {
    session_.recording = true;
    session_.paused = false;
    session_.needsPermission = false;
    inviteDuringSave_ = false;
    told_ = {};
    setWarning(std::nullopt);
    // Its meeting ended while it started: it is saved at once, with no popup for it.
    const bool finishNow = std::exchange(finishAfterStart_, false);
    if (!finishNow) showPopup("recording", session_.displayLabel(), std::nullopt);
    setRecordingActive(true);
    limitTimer_.reset();
    if (finishNow) {
        postFinish();
        return;
    }
    if (!deps_.timers) return;
    std::weak_ptr<bool> alive = alive_;
    MainLoop* mainLoop = deps_.mainLoop;
    limitTimer_ = deps_.timers->schedule(kRecordingLimit, false, [this, alive, mainLoop] {
        if (mainLoop == nullptr) return;
        mainLoop->post([this, alive] {
            if (!alive.lock()) return;
            systemLog(kLimitLine);
            finishRecording();
        });
    });
}

void MeetingSessionCoordinator::setPaused(bool paused) {
    session_.paused = paused;
    KestrinProtocol* plugin = plugin_();
    if (plugin != nullptr && plugin->meetingPopupVisible())
        plugin->showMeetingPopup(paused ? "paused" : "recording", session_.displayLabel(), std::nullopt);
}

void MeetingSessionCoordinator::recordingEnded() {
    // Another stop is still saving this recording (the page's, or an earlier finish): it ends it when
    // it is done, so the popup and the page's flag do not claim it over before the file exists.
    if (saving()) return;
    session_.recording = false;
    session_.paused = false;
    setWarning(std::nullopt);
    limitTimer_.reset();
    if (!std::exchange(inviteDuringSave_, false)) hidePopup();
    setRecordingActive(false);
}

void MeetingSessionCoordinator::finishRecording(std::function<void()> done) {
    if (!deps_.recorder) {
        recordingEnded();
        if (done) done();
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    deps_.recorder->stop([this, alive, done = std::move(done)](std::variant<std::string, RecordingFailure> result) {
        if (!alive.lock()) return;
        const auto* failure = std::get_if<RecordingFailure>(&result);
        recordingEnded();
        // Nothing to stop: the recorder was idle, or another stop (the page's, or an earlier finish)
        // has the recording and reports it. Nothing was lost, so nothing is said.
        if (failure != nullptr && failure->recorderError() == RecorderError::notRecording()) {
            if (done) done();
            return;
        }
        if (failure != nullptr) {
            notify("録音を保存できませんでした", failure->description());
        } else {
            notify("会議の録音を保存しました", "トモリバで議事録への保存を始めます。");
            if (deps_.appURL && deps_.openInternal)
                if (auto url = Url::parse(kMeetingNotesPath, deps_.appURL())) deps_.openInternal(*url);
            if (KestrinProtocol* plugin = plugin_()) plugin->showWindow();
        }
        if (done) done();
    });
}

void MeetingSessionCoordinator::setRecordingActive(bool active) {
    if (!deps_.center) return;
    deps_.center->post(notification_names::kEvaluate,
                       std::string(active ? "window.__orvanRecordingActive = true;"
                                          : "window.__orvanRecordingActive = false;"));
}

void MeetingSessionCoordinator::notify(const std::string& title, const std::string& body) {
    if (!deps_.notifications) return;
    deps_.notifications->add(NotificationRequest{
        .identifier = deps_.newUUID ? deps_.newUUID() : std::string(),
        .title = title,
        .body = body,
        .sound = false,
    });
}

}  // namespace orvan
