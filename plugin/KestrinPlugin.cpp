#include "plugin/KestrinPlugin.h"

#include <exception>
#include <string>
#include <system_error>
#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

KestrinPlugin::KestrinPlugin(Dependencies dependencies)
    : deps_(std::move(dependencies)),
      popup_(std::make_shared<MeetingPopup>(deps_.popup)),
      watchQueue_(deps_.applicationId + ".meeting-watch", deps_.clock ? deps_.clock : std::make_shared<SteadyClock>()),
      autostartItem_(StatusMenuEntry::checkbox("ログイン時に起動", [this] { toggleAutostart(); })) {}

void KestrinPlugin::installWithOpenWindow(Block openWindow, Block reload) {
    // (a) the application's blocks
    if (openWindow) openWindow_ = std::move(openWindow);
    if (reload) reload_ = std::move(reload);
    // (b) the update controller, its automatic checks started at once
    if (deps_.makeUpdater) updater_ = deps_.makeUpdater();
    if (updater_) updater_->startUpdater();
    // (c) the tray item and its menu, where the popup shows a recording when no panel can float
    buildStatusItemAndMenu();
    popup_->setTrayRows([this](std::vector<StatusMenuEntry> rows) {
        if (statusItem_) statusItem_->setLeadingRows(std::move(rows));
    });
    // (d) the global hot key
    installHotKey();
}

void KestrinPlugin::installHotKey() {
    if (!deps_.hotKeys) return;
    // Said the same whether the desktop refuses at once or (a portal) answers later; it touches
    // nothing of ours, so a late answer is safe whatever has gone since.
    const auto logRefusal = [](int code) {
        systemLog("Kestrin: ⌘⇧O を登録できません (" + std::to_string(code) + ")");
        // No way to register one here (no X display, no shortcuts portal): the desktop's own keyboard
        // settings can run the same toggle.
        if (code < 0) systemLog(kToggleCommandLine);
    };
    // A press reaches us on its own turn of the main loop and acts like a click on the tray item.
    HotKeyRegistration registration = deps_.hotKeys->registerHotKey(
        {"Super", "Shift", "o"}, [this](const std::string& token) { toggle(token); }, logRefusal);
    if (!registration.key) {
        logRefusal(registration.errorCode);
        return;
    }
    hotKey_ = std::move(registration.key);
}

void KestrinPlugin::buildStatusItemAndMenu() {
    menu_ = {
        StatusMenuEntry::item("トモリバを開く", [this] { openFromMenu(); }, {"Super", "Shift", "o"}),
        StatusMenuEntry::item("再読み込み", [this] { reloadFromMenu(); }),
        StatusMenuEntry::separator(),
        autostartItem_,
        StatusMenuEntry::item("アップデートを確認…", [this] { checkForUpdates(); }),
        StatusMenuEntry::separator(),
        StatusMenuEntry::item("終了", [this] { quit(); }, {"Control", "q"}),
    };
    if (!deps_.statusBar) return;
    statusItem_ = deps_.statusBar->addItem(StatusItemContent{
        .imageFolder = imageFolder(),
        .imageName = kImageName,
        .toolTip = kToolTip,
        .menu = menu_,
        .onActivate = [this](const std::string& token) { statusItemClicked(token); },
        .onMenuAboutToShow = [this] { menuNeedsUpdate(); },
        // The application outlives its last window only while a panel shows the item, which can bring
        // a window back; without one it would run on, out of reach, never to be quit.
        .onShownChanged =
            [this](bool shown) {
                if (deps_.application) deps_.application->keepRunningWithoutWindows(shown);
            },
    });
}

std::optional<std::filesystem::path> KestrinPlugin::imageFolder() const {
    std::error_code error;
    for (const char* extension : {".svg", ".png"}) {
        if (std::filesystem::is_regular_file(deps_.resources / (std::string(kImageName) + extension), error)) {
            return deps_.resources;
        }
    }
    return std::nullopt;
}

void KestrinPlugin::setBadgeTitle(const std::optional<std::string>& title) {
    if (!statusItem_) return;
    statusItem_->setTitle(title ? " " + *title : std::string());
}

void KestrinPlugin::toggle(const std::string& activationToken) {
    if (!deps_.application) return;
    DesktopApplication& application = *deps_.application;
    const bool visible = application.hasVisibleMainWindow();
    if (visible && application.isActive()) {
        application.hide();
        return;
    }
    application.unhide();
    application.activate(activationToken);
    if (!visible) openWindow_();
}

void KestrinPlugin::showWindow() {
    if (!deps_.application) return;
    DesktopApplication& application = *deps_.application;
    application.unhide();
    application.activate("");
    if (!application.hasVisibleMainWindow()) openWindow_();
}

void KestrinPlugin::startMeetingWatch(WatchBlock block) {
    if (watchTimer_ || !deps_.mainLoop) return;
    // The first pass runs at once, then one every interval; each hands its result to the main loop.
    std::weak_ptr<KestrinPlugin*> weakSelf = self_;
    watchTimer_ = watchQueue_.scheduleRepeating(
        Clock::Time::zero(), deps_.watchInterval,
        [weakSelf, sources = deps_.meetingSources, mainLoop = deps_.mainLoop, block = std::move(block)] {
            if (weakSelf.expired()) return;
            Found found = MeetingDetector::detectMeeting(sources);
            mainLoop->post([weakSelf, block, found = std::move(found)] {
                auto self = weakSelf.lock();
                if (!self) return;
                if (auto event = (*self)->watcher_.update(found)) block(event->event, event->label);
            });
        });
}

// Window titles of other applications are readable on X11 without asking anyone.
bool KestrinPlugin::requestScreenCaptureAccess() { return true; }

void KestrinPlugin::showMeetingPopup(const std::string& phase, const std::string& label,
                                     const std::optional<std::string>& message) {
    popup_->show(phase, label, message);
}

void KestrinPlugin::hideMeetingPopup() { popup_->hide(); }

bool KestrinPlugin::meetingPopupVisible() { return popup_->visible(); }

void KestrinPlugin::setMeetingPopupHandler(ActionBlock block) {
    if (!block) return;
    popup_->onAction = std::move(block);
}

void KestrinPlugin::setMeetingPopupWarning(const std::optional<std::string>& warning) { popup_->setWarning(warning); }

void KestrinPlugin::setMeetingLevelSource(LevelsBlock block) { popup_->levels = std::move(block); }

void KestrinPlugin::checkForUpdates() {
    if (deps_.application) deps_.application->activate("");
    if (updater_) updater_->checkForUpdates();
}

// The state is read afresh: another program may have changed the entry since the menu opened.
void KestrinPlugin::toggleAutostart() {
    if (!deps_.loginItem) return;
    const auto logFailure = [](const std::string& description) {
        systemLog("Kestrin: 自動起動の切り替えに失敗: " + description);
    };
    try {
        deps_.loginItem->setEnabled(!deps_.loginItem->enabled(), logFailure);
    } catch (const std::exception& error) {
        logFailure(error.what());
    }
}

void KestrinPlugin::quit() {
    if (deps_.application) deps_.application->terminate();
}

void KestrinPlugin::menuNeedsUpdate() {
    const bool enabled = deps_.loginItem && deps_.loginItem->enabled();
    autostartItem_.checked = enabled;
    if (statusItem_) statusItem_->setChecked(kAutostartRow, enabled);
}

}  // namespace orvan
