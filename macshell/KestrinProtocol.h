#pragma once

// What the application and the tray companion (the Kestrin bundle) say to each other. Both compile
// this one header; a bundle built against another revision is refused at load time.

#include <functional>
#include <optional>
#include <string>

namespace orvan {

// The three closed vocabularies that cross the boundary as plain strings.
namespace kestrin {

namespace watch_event {
inline constexpr const char* kStarted = "started";        // label: one of the meeting labels below
inline constexpr const char* kEnded = "ended";            // label: none
inline constexpr const char* kPermission = "permission";  // label: none
}  // namespace watch_event

namespace meeting_label {
inline constexpr const char* kZoom = "Zoom";
inline constexpr const char* kTeams = "Teams";
inline constexpr const char* kGoogleMeet = "Google Meet";
}  // namespace meeting_label

// Any other phase shows the failure layout; the application sends "error".
namespace popup_phase {
inline constexpr const char* kInvite = "invite";
inline constexpr const char* kRecording = "recording";
inline constexpr const char* kPaused = "paused";
inline constexpr const char* kPermission = "permission";
inline constexpr const char* kError = "error";
}  // namespace popup_phase

namespace popup_action {
inline constexpr const char* kStart = "start";
inline constexpr const char* kPause = "pause";
inline constexpr const char* kResume = "resume";
inline constexpr const char* kFinish = "finish";
inline constexpr const char* kDismiss = "dismiss";
}  // namespace popup_action

}  // namespace kestrin

// How loud a recording's two inputs were since the popup last asked: the loudest sample of each,
// from 0 (nothing) to 1 (full scale).
struct MeetingLevels {
    float microphone = 0;
    float systemAudio = 0;
};

// The plug-in's principal object. Every call arrives on the main loop, and the plug-in calls the
// blocks it was given there too. Nothing reports failure: the plug-in logs instead.
class KestrinProtocol {
public:
    using Block = std::function<void()>;
    using WatchBlock = std::function<void(const std::string& event, const std::optional<std::string>& label)>;
    using ActionBlock = std::function<void(const std::string& action)>;
    using LevelsBlock = std::function<MeetingLevels()>;

    // 1. init: the bundle's factory builds the instance (fields only: no item, timer or window).
    virtual ~KestrinProtocol() = default;
    // 2. Called once, right after creation; the status item is live when it returns.
    virtual void installWithOpenWindow(Block openWindow, Block reload) = 0;
    // 3. None: the bare icon; otherwise the text follows the icon after one space.
    virtual void setBadgeTitle(const std::optional<std::string>& title) = 0;
    // 4.
    virtual void toggleWindow() = 0;
    // 5.
    virtual void showWindow() = 0;
    // 6. Only the first call has effect.
    virtual void startMeetingWatch(WatchBlock block) = 0;
    // 7.
    virtual bool requestScreenCaptureAccess() = 0;
    // 8.
    virtual void showMeetingPopup(const std::string& phase, const std::string& label,
                                  const std::optional<std::string>& message) = 0;
    // 9.
    virtual void hideMeetingPopup() = 0;
    // 10.
    virtual bool meetingPopupVisible() = 0;
    // 11.
    virtual void setMeetingPopupHandler(ActionBlock block) = 0;
    // 12. What goes wrong with the recording shown, in the error colour, in place of its elapsed
    // time; none: the time again. Kept, whatever is shown meanwhile, until the next call.
    virtual void setMeetingPopupWarning(const std::optional<std::string>& warning) = 0;
    // 13. Asked at most ten times a second while the popup shows a recording, for its level meters.
    virtual void setMeetingLevelSource(LevelsBlock block) = 0;
};

// What a bundle's shared object exports, as C symbols.
namespace kestrin {

// Bump with every change to KestrinProtocol above: the loader compares it byte for byte.
inline constexpr const char* kProtocolIdentity = "KestrinProtocol/2";

inline constexpr const char* kProtocolSymbol = "kestrin_protocol_identity";
inline constexpr const char* kCreateSymbol = "kestrin_create_principal";
inline constexpr const char* kDestroySymbol = "kestrin_destroy_principal";

extern "C" {
using ProtocolIdentityFunction = const char* (*)();
// Null when the bundle has no class of that name.
using CreateFunction = KestrinProtocol* (*)(const char* principalClass);
using DestroyFunction = void (*)(KestrinProtocol* instance);
}

}  // namespace kestrin

}  // namespace orvan
