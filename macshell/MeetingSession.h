#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/NotificationCenter.h"
#include "platform/Url.h"
#include "macshell/KestrinProtocol.h"
#include "platform/MainLoop.h"
#include "platform/MainTimers.h"
#include "platform/RecordingSignals.h"
#include "platform/UserNotificationCenter.h"
#include "macshell/RecorderActivity.h"
#include "recording/RecordingHealth.h"

namespace orvan {

// What the popup should show for the meeting in progress.
struct MeetingSession {
    std::optional<std::string> label;
    bool dismissed = false;
    bool recording = false;
    bool paused = false;
    bool needsPermission = false;

    std::string displayLabel() const { return label.value_or("会議"); }
};

// Ties the plug-in's meeting events and popup buttons to the recorder, the page's recording flag,
// the four-hour limit and the hand-over of a saved recording to the meeting-notes page. Main loop only.
class MeetingSessionCoordinator {
public:
    static constexpr std::chrono::seconds kRecordingLimit{14400};
    static constexpr const char* kLimitLine = "MacShell: 録音が4時間の上限に達したため自動停止します";
    static constexpr const char* kMeetingNotesPath = "/meeting-notes/record?mode=desktop-app";

    struct Dependencies {
        MainLoop* mainLoop = nullptr;
        std::shared_ptr<MainTimers> timers;
        // The recorder as the page reaches it too: the session follows its starts and stops.
        std::shared_ptr<RecorderActivity> recorder;
        std::shared_ptr<NotificationCenter> center;
        std::shared_ptr<UserNotificationCenter> notifications;
        std::function<std::string()> newUUID;
        std::function<Url()> appURL;
        // Remembers the URL for a window yet to open and sends the front window to it.
        std::function<void(const Url&)> openInternal;
        // The running recording's levels, for the popup's meters.
        std::shared_ptr<RecordingSignals> signals = nullptr;
    };

    // `plugin` answers the installed plug-in, or nullptr while there is none.
    MeetingSessionCoordinator(Dependencies dependencies, std::function<KestrinProtocol*()> plugin);

    void handleMeetingEvent(const std::string& event, const std::optional<std::string>& label);
    void handlePopupAction(const std::string& action);
    void recordingStarted();
    void setPaused(bool paused);
    void recordingEnded();
    void finishRecording(std::function<void()> done = {});
    void setRecordingActive(bool active);
    void notify(const std::string& title, const std::string& body);
    // What goes wrong with the running recording, whoever started it: the popup's second line while
    // it lasts, a notification once per recording, and a failed write stops and saves it at once.
    void healthChanged(const RecordingHealth& health);
    // The loudest samples since the last call; nothing while no recording runs.
    MeetingLevels levels();

    const MeetingSession& session() const { return session_; }
    bool limitArmed() const { return limitTimer_ != nullptr; }

private:
    bool saving() const { return deps_.recorder && deps_.recorder->stopsUnderWay() > 0; }
    bool starting() const { return deps_.recorder && deps_.recorder->startsUnderWay() > 0; }
    void postFinish();
    void showPopup(const std::string& phase, const std::string& label, const std::optional<std::string>& message);
    void hidePopup();
    void showRecordingPhase(const std::optional<std::string>& message);
    void setWarning(const std::optional<std::string>& warning);

    Dependencies deps_;
    std::function<KestrinProtocol*()> plugin_;
    MeetingSession session_;
    std::unique_ptr<MainTimer> limitTimer_;
    // The meeting ended while a start was under way: the recording it starts is finished at once.
    bool finishAfterStart_ = false;
    // The popup shows a new meeting's invitation that came while the last recording was being saved:
    // the end of that save leaves it in place.
    bool inviteDuringSave_ = false;
    // The warning the popup shows, and which warnings this recording has had a notification for.
    std::optional<std::string> warning_;
    struct Told {
        bool silent = false, diskLow = false, writeFailure = false;
    } told_;
    ObserverToken healthObserver_;
    // Completions of recorder calls outlive nothing: they check this before touching the session.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvan
