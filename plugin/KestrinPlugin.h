#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "macshell/KestrinProtocol.h"
#include "platform/Clock.h"
#include "platform/DesktopApplication.h"
#include "platform/LoginItem.h"
#include "platform/SerialQueue.h"
#include "platform/StatusItem.h"
#include "plugin/MeetingPopup.h"
#include "plugin/MeetingWatcher.h"

namespace orvan {

// The tray companion's principal class: the tray item with its badge and menu, window toggling,
// and (to come) the hot key, launch at login, updates, meeting watch and popup.
class KestrinPlugin final : public KestrinProtocol {
public:
    static constexpr const char* kClassName = "KestrinPlugin";
    static constexpr const char* kToolTip = "トモリバ";
    static constexpr const char* kImageName = "tray";
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
    std::optional<std::filesystem::path> imageFolder() const;

    Dependencies deps_;

    std::unique_ptr<StatusItem> statusItem_;
    Block openWindow_ = [] {};
    Block reload_ = [] {};
    // The global hot key's registration and handler: set up by the hot-key support, still to come.
    std::shared_ptr<void> hotKey_;
    std::shared_ptr<void> hotKeyHandler_;
    std::vector<StatusMenuEntry> menu_;
    std::shared_ptr<MeetingPopup> popup_ = std::make_shared<MeetingPopup>();
    MeetingWatcher watcher_;
    // The first watch block: a started watch. Its timer arrives with meeting detection.
    std::optional<WatchBlock> watchBlock_;
    SerialQueue watchQueue_;
    // The update controller: none until update checks exist.
    std::shared_ptr<void> updater_;
    StatusMenuEntry autostartItem_;
};

}  // namespace orvan
