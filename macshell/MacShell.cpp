#include "macshell/MacShell.h"

#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

namespace {

MeetingSessionCoordinator::Dependencies sessionPorts(const MacShell::Dependencies& deps,
                                                     MeetingSessionCoordinator::Dependencies meeting) {
    meeting.mainLoop = deps.mainLoop;
    meeting.center = deps.center;
    meeting.notifications = deps.notifications;
    meeting.newUUID = deps.newUUID;
    return meeting;
}

std::optional<std::string> badgeTitle(const BadgeCounts& counts) {
    const std::int64_t total = counts.menuBarTotal();
    return total >= 1 ? std::optional<std::string>(std::to_string(total)) : std::nullopt;
}

}  // namespace

MacShell::MacShell(Dependencies dependencies, MeetingSessionCoordinator::Dependencies meeting)
    : deps_(std::move(dependencies)), meeting_(sessionPorts(deps_, std::move(meeting)), [this] { return bridge_; }) {}

MacShell::MacShell(std::filesystem::path builtInPlugInsFolder, std::shared_ptr<PluginLoader> loader)
    : meeting_({}, [this] { return bridge_; }) {
    deps_.plugInsFolder = std::move(builtInPlugInsFolder);
    deps_.loader = std::move(loader);
}

void MacShell::loadPlugin() {
    auto loaded = bridge_ == nullptr && deps_.loader ? loadKestrin(*deps_.loader, deps_.plugInsFolder) : nullptr;
    if (!loaded) {
        systemLog(kLoadFailedLine);
        return;
    }
    KestrinProtocol& plugin = *loaded->instance;
    std::weak_ptr<NotificationCenter> center = deps_.center;
    plugin.installWithOpenWindow(
        [open = deps_.openWindow] {
            if (open) open();
        },
        [center] {
            if (auto strong = center.lock()) strong->post(notification_names::kReload);
        });
    loaded_ = std::move(loaded);
    bridge_ = &plugin;
    // The plug-in starts after the first page, whose badges may have come first.
    if (last_) plugin.setBadgeTitle(badgeTitle(*last_));

    // The plug-in calls these inside its own handling: each event runs in a task of its own after it.
    MainLoop* mainLoop = deps_.mainLoop;
    plugin.setMeetingPopupHandler([this, mainLoop](const std::string& action) {
        if (mainLoop != nullptr) mainLoop->post([this, action] { handlePopupAction(action); });
    });
    plugin.setMeetingLevelSource([this] { return meeting_.levels(); });
    plugin.startMeetingWatch([this, mainLoop](const std::string& event, const std::optional<std::string>& label) {
        if (mainLoop != nullptr) mainLoop->post([this, event, label] { handleMeetingEvent(event, label); });
    });
    observeLifecycle();
}

void MacShell::observeLifecycle() {
    if (!deps_.center) return;
    NotificationCenter& center = *deps_.center;
    std::weak_ptr<NotificationCenter> weakCenter = deps_.center;
    MainLoop* mainLoop = deps_.mainLoop;
    observers_.push_back(center.addObserver(notification_names::kCaptureFailed, [this, mainLoop](const Notification&) {
        if (mainLoop != nullptr) mainLoop->post([this] { finishRecording(); });
    }));
    const auto evaluate = [weakCenter](const char* script) {
        return [weakCenter, script](const Notification&) {
            if (auto strong = weakCenter.lock()) strong->post(notification_names::kEvaluate, std::string(script));
        };
    };
    observers_.push_back(center.addObserver(notification_names::kSceneDidEnterBackground, evaluate(kHiddenScript)));
    observers_.push_back(center.addObserver(notification_names::kSceneWillEnterForeground, evaluate(kShownScript)));
}

void MacShell::applyBadges(const nlohmann::json& counts) { applyBadges(BadgeCounts::from(counts)); }

void MacShell::applyBadges(const BadgeCounts& counts) {
    if (bridge_ != nullptr) bridge_->setBadgeTitle(badgeTitle(counts));
    if (counts.attention && deps_.badge) deps_.badge->setBadgeCount(*counts.attention);

    const std::optional<BadgeCounts> previous = std::exchange(last_, counts);
    if (!previous) return;  // the first update after launch is the baseline
    const auto increases = counts.increasesSince(*previous);
    if (increases.lines.empty() || !deps_.notifications) return;
    std::string body;
    for (const auto& line : increases.lines) body += (body.empty() ? "" : " / ") + line;
    deps_.notifications->add(NotificationRequest{
        .identifier = deps_.newUUID ? deps_.newUUID() : std::string(),
        .title = "トモリバ",
        .body = body,
        .sound = increases.wantsSound,
    });
}

void MacShell::recordingStarted() { meeting_.recordingStarted(); }
void MacShell::setPaused(bool paused) { meeting_.setPaused(paused); }
void MacShell::recordingEnded() { meeting_.recordingEnded(); }
void MacShell::handleMeetingEvent(const std::string& event, const std::optional<std::string>& label) {
    meeting_.handleMeetingEvent(event, label);
}
void MacShell::handlePopupAction(const std::string& action) { meeting_.handlePopupAction(action); }
void MacShell::finishRecording() { meeting_.finishRecording(); }

void MacShell::toggleWindow() {
    if (bridge_ != nullptr) bridge_->toggleWindow();
    else if (deps_.openWindow) deps_.openWindow();
}

}  // namespace orvan
