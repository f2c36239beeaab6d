#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "macshell/KestrinProtocol.h"
#include "platform/Clock.h"
#include "platform/DesktopApplication.h"
#include "platform/GlobalHotKeys.h"
#include "platform/LoginItem.h"
#include "platform/MainLoop.h"
#include "platform/SerialQueue.h"
#include "platform/StatusItem.h"
#include "plugin/MeetingDetector.h"
#include "plugin/MeetingPopup.h"
#include "plugin/MeetingWatcher.h"
#include "plugin/UpdateController.h"

namespace orvan {

// The tray companion's principal class: the tray item with its badge and menu, window toggling,
// the global hot key, launch at login, update checks, the meeting watch and the meeting popup.
class KestrinPlugin final : public KestrinProtocol {
public:
    static constexpr const char* kClassName = "KestrinPlugin";
    static constexpr const char* kToolTip = "トモリバ";
    static constexpr const char* kImageName = "tray";
    static constexpr const char* kToggleCommandLine =
        "Kestrin: ⌘⇧O の代わりに、デスクトップのキーボード設定で「orvanoffice --toggle」をショートカットに割り当てられます";
    // Rows of the menu, in order.
    enum MenuRow : std::size_t { kOpenRow, kReloadRow, kFirstSeparator, kAutostartRow, kUpdatesRow, kSecondSeparator, kQuitRow };

    struct Dependencies {
        std::shared_ptr<StatusBar> statusBar;
        std::shared_ptr<DesktopApplication> application;
        std::shared_ptr<LoginItem> loginItem;
        // The bundle's Resources folder, where the "tray" image lives.
        std::filesystem::path resources;
        std::string applicationId;
        std::shared_ptr<Clock> clock;
        std::shared_ptr<GlobalHotKeys> hotKeys;
        // Makes the update controller at install; none: no update feed is configured.
        std::function<std::shared_ptr<UpdateController>()> makeUpdater;
        // The meeting watch: where its passes read the system, where events are delivered, how often.
        MeetingDetector::Sources meetingSources{};
        std::shared_ptr<MainLoop> mainLoop{};
        Clock::Time watchInterval = std::chrono::seconds(10);
        // The floating meeting panel's ports; without a view factory it keeps state and never shows.
        MeetingPopup::Ports popup{};
    };

    // Builds the fields only: no tray item, window or timer exists yet.
    explicit KestrinPlugin(Dependencies dependencies);

    void installWithOpenWindow(Block openWindow, Block reload) override;
    void setBadgeTitle(const std::optional<std::string>& title) override;
    void toggleWindow() override { toggle(""); }
    void showWindow() override;
    void startMeetingWatch(WatchBlock block) override;
    bool requestScreenCaptureAccess() override;
    void showMeetingPopup(const std::string& phase, const std::string& label,
                          const std::optional<std::string>& message) override;
    void hideMeetingPopup() override;
    bool meetingPopupVisible() override;
    void setMeetingPopupHandler(ActionBlock block) override;
    void setMeetingPopupWarning(const std::optional<std::string>& warning) override;
    void setMeetingLevelSource(LevelsBlock block) override;

    // The tray item's and the menu's actions.
    void statusItemClicked(const std::string& activationToken) { toggle(activationToken); }
    void openFromMenu() { showWindow(); }
    void reloadFromMenu() { reload_(); }
    void checkForUpdates();
    void toggleAutostart();
    void quit();
    void menuNeedsUpdate();

private:
    void toggle(const std::string& activationToken);
    void buildStatusItemAndMenu();
    void installHotKey();
    std::optional<std::filesystem::path> imageFolder() const;

    Dependencies deps_;

    std::unique_ptr<StatusItem> statusItem_;
    Block openWindow_ = [] {};
    Block reload_ = [] {};
    // The global hot key's registration; its handler lives inside it.
    std::unique_ptr<GlobalHotKey> hotKey_;
    std::vector<StatusMenuEntry> menu_;
    std::shared_ptr<MeetingPopup> popup_;
    MeetingWatcher watcher_;
    // The watch's timer; it runs its passes on the watch queue.
    std::shared_ptr<SerialQueue::Timer> watchTimer_;
    SerialQueue watchQueue_;
    std::shared_ptr<UpdateController> updater_;
    StatusMenuEntry autostartItem_;
    // Lives as long as the plug-in: the watch's work on the main loop holds it weakly.
    std::shared_ptr<KestrinPlugin*> self_ = std::make_shared<KestrinPlugin*>(this);
};

}  // namespace orvan
