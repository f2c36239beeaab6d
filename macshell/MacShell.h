#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/NotificationCenter.h"
#include "macshell/BadgeCounts.h"
#include "macshell/KestrinLoader.h"
#include "macshell/MacShellPort.h"
#include "macshell/MeetingSession.h"
#include "platform/ApplicationBadge.h"
#include "platform/MainLoop.h"
#include "platform/PluginLoader.h"
#include "platform/UserNotificationCenter.h"

namespace orvan {

// The application's side of the tray companion: loads the plug-in at launch and keeps it, carries
// window shown/hidden to the page, and turns badge counts into the tray label, the icon badge and a
// notification of what rose. Without a plug-in the calls to it are skipped and the rest still runs.
class MacShell final : public MacShellPort {
public:
    static constexpr const char* kPluginBundleName = "Kestrin.bundle";
    static constexpr const char* kLoadFailedLine = "MacShell: Kestrin を読み込めません（メニューバーと ⌘⇧O は無しで続ける）";
    static constexpr const char* kHiddenScript = "window.dispatchEvent(new Event('orvan:hidden'));";
    static constexpr const char* kShownScript = "window.dispatchEvent(new Event('orvan:shown'));";

    struct Dependencies {
        std::filesystem::path plugInsFolder;
        std::shared_ptr<PluginLoader> loader;
        MainLoop* mainLoop = nullptr;
        std::shared_ptr<NotificationCenter> center;
        std::shared_ptr<UserNotificationCenter> notifications;
        std::shared_ptr<ApplicationBadge> badge;
        // Opens a new application window.
        std::function<void()> openWindow;
        std::function<std::string()> newUUID;
    };

    // `meeting` gives the meeting session its recorder, timers and the meeting-notes hand-over; its
    // main loop, centres and UUIDs are taken from `dependencies`.
    explicit MacShell(Dependencies dependencies, MeetingSessionCoordinator::Dependencies meeting = {});
    // Without the services (tools and tests that never load a plug-in).
    MacShell(std::filesystem::path builtInPlugInsFolder, std::shared_ptr<PluginLoader> loader);

    // Loads and installs the plug-in once; every failure, and every further call, logs one line.
    void loadPlugin();
    bool isPluginLoaded() const { return bridge_ != nullptr; }

    void applyBadges(const nlohmann::json& counts) override;
    void applyBadges(const BadgeCounts& counts);
    void recordingStarted() override;
    void setPaused(bool paused) override;
    void recordingEnded() override;

    // The plug-in's meeting watch and popup buttons, handled by the meeting session.
    void handleMeetingEvent(const std::string& event, const std::optional<std::string>& label);
    void handlePopupAction(const std::string& action);
    void finishRecording();
    // The desktop's own shortcut for the hot key ("orvanoffice --toggle"): as the hot key does, or,
    // without the companion, a window brought forward.
    void toggleWindow();
    const MeetingSession& session() const { return meeting_.session(); }

private:
    void observeLifecycle();

    Dependencies deps_;
    std::unique_ptr<LoadedKestrin> loaded_;
    KestrinProtocol* bridge_ = nullptr;  // the instance that loaded_ keeps
    std::optional<BadgeCounts> last_;
    std::vector<ObserverToken> observers_;
    MeetingSessionCoordinator meeting_;
};

}  // namespace orvan
