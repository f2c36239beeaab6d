#include "macshell/MeetingSession.h"

#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

MeetingSessionCoordinator::MeetingSessionCoordinator(Dependencies dependencies,
                                                     std::function<KestrinProtocol*()> plugin)
    : deps_(std::move(dependencies)), plugin_(std::move(plugin)) {}

bool MeetingSessionCoordinator::recorderIsRecording() const { return deps_.isRecording && deps_.isRecording(); }

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

void MeetingSessionCoordinator::handleMeetingEvent(const std::string& event, const std::optional<std::string>& label) {
    if (event == "started") {
        const bool wasPaused = session_.paused;
        session_ = MeetingSession{.label = label};
        std::string phase = "invite";
        if (recorderIsRecording()) {
            session_.recording = true;
            session_.paused = wasPaused;
            phase = wasPaused ? "paused" : "recording";
        }
        showPopup(phase, session_.displayLabel(), std::nullopt);
    } else if (event == "ended") {
        const bool wasRecording = session_.recording || recorderIsRecording();
        session_ = MeetingSession{};
        hidePopup();
        if (wasRecording && deps_.mainLoop != nullptr) {
            std::weak_ptr<bool> alive = alive_;
            deps_.mainLoop->post([this, alive] {
                if (alive.lock()) finishRecording();
            });
        }
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
            else showPopup("error", label, failure->description());
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
    showPopup("recording", session_.displayLabel(), std::nullopt);
    setRecordingActive(true);
    limitTimer_.reset();
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
    session_.recording = false;
    session_.paused = false;
    limitTimer_.reset();
    hidePopup();
    setRecordingActive(false);
}

void MeetingSessionCoordinator::finishRecording(std::function<void()> done) {
    if (!recorderIsRecording() || !deps_.recorder) {
        recordingEnded();
        if (done) done();
        return;
    }
    // Finishes that overlap (an "ended" or the limit during a save) share one round: each asks the
    // recorder, which hands its one recording to one of them and answers "not recording" to the
    // others. Those end silently, so the session ends once and no failure is reported for a saved file.
    if (!finishRound_) finishRound_ = std::make_shared<FinishRound>();
    std::shared_ptr<FinishRound> round = finishRound_;
    ++round->outstanding;
    std::weak_ptr<bool> alive = alive_;
    deps_.recorder->stop([this, alive, round, done = std::move(done)](std::variant<std::string, RecordingFailure> result) {
        if (!alive.lock()) return;
        --round->outstanding;
        if (round->outstanding == 0 && finishRound_ == round) finishRound_.reset();
        const auto* failure = std::get_if<RecordingFailure>(&result);
        const bool overlapped = round->outstanding > 0 || round->ended;
        if (failure != nullptr && overlapped && failure->recorderError() == RecorderError::notRecording()) {
            if (done) done();
            return;
        }
        round->ended = true;
        recordingEnded();
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
