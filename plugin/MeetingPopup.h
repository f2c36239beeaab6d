#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "macshell/KestrinProtocol.h"
#include "platform/MainTimers.h"
#include "platform/StatusItem.h"
#include "platform/UserDefaults.h"
#include "platform/UserNotificationCenter.h"
#include "plugin/MeetingPopupView.h"

namespace orvan {

// The floating meeting panel's logic: what each phase shows, the elapsed-time clock, and the
// buttons' interim texts. The application decides the phase; the panel only reports presses.
// Where no panel can float (a Wayland desktop without XWayland, where a window would take the
// focus), an offer or a message comes as a notification with the panel's buttons, and a recording
// shows in rows at the top of the tray menu. With neither it keeps its state and is never visible.
class MeetingPopup : public std::enable_shared_from_this<MeetingPopup> {
public:
    struct Ports {
        // Builds the panel on first show.
        std::function<std::unique_ptr<MeetingPopupView>()> makeView;
        std::shared_ptr<MainTimers> timers;
        // Opens the desktop's privacy settings, where there is such a page.
        std::function<void()> openSettings;
        // Where the panel's origin is remembered between runs.
        std::shared_ptr<UserDefaults> defaults;
        // Without a panel: the desktop's notifications, and the rows shown first in the tray menu.
        std::shared_ptr<UserNotificationCenter> notices{};
        std::function<void(std::vector<StatusMenuEntry>)> trayRows{};
    };

    // The notification that stands for the panel.
    static constexpr const char* kNoticeIdentifier = "meeting-popup";

    // Moves are remembered at most this often; the last one of a drag always is.
    static constexpr std::chrono::milliseconds kSaveInterval{500};

    MeetingPopup() = default;
    explicit MeetingPopup(Ports ports) : ports_(std::move(ports)) {}

    std::function<void(const std::string& action)> onAction = [](const std::string&) {};
    // Read for the level meters while a recording shows, at most every kMeterInterval.
    std::function<MeetingLevels()> levels;
    static constexpr std::chrono::milliseconds kMeterInterval{100};

    void show(const std::string& phase, const std::string& label, const std::optional<std::string>& message);
    void hide();
    bool visible() const { return view_ ? view_->isVisible() : noticeShown_ || rowsShown_; }
    // What goes wrong with the recording, in the place of its clock; kept until the next call.
    void setWarning(const std::optional<std::string>& warning);
    // The tray companion hands over its menu once it has one.
    void setTrayRows(std::function<void(std::vector<StatusMenuEntry>)> rows) { ports_.trayRows = std::move(rows); }

    // "%@ ・ %02d:%02d": minutes are not wrapped into hours.
    static std::string clockText(const std::string& label, int elapsed);
    // A sample's peak on a meter: −60 dBFS and quieter unlit, full scale all lit.
    static double meterShare(float peak);

private:
    void render(const std::optional<std::string>& message);
    // A recording's second line: the warning, or else the clock.
    void showRecordingLine();
    void startMeters();
    void stopMeters();
    PopupButton button(const std::string& title, bool accent, std::function<void(MeetingPopup&)> press);
    void send(const std::string& action) { onAction(action); }
    void build();
    void moved(PopupPoint origin);
    void closed();
    // Without a panel.
    bool withoutPanel() const { return !view_ && (ports_.notices || ports_.trayRows); }
    // From the last show's phase and message.
    void renderWithoutPanel();
    void showRows();
    void clearWithoutPanel();
    void answered(const NotificationResponse& response);
    void saveOrigin();

    Ports ports_;
    std::unique_ptr<MeetingPopupView> view_;
    std::optional<std::string> phase_;
    std::string label_;
    int elapsed_ = 0;
    std::unique_ptr<MainTimer> clock_;
    std::optional<std::string> warning_;
    std::optional<std::string> message_;  // the error line of the last show
    bool saving_ = false;                 // "止めて保存" was pressed: its text stays
    std::unique_ptr<MainTimer> meters_;
    // A move arriving within the save interval waits here until the interval is over.
    std::optional<PopupPoint> unsavedOrigin_;
    std::unique_ptr<MainTimer> saveInterval_;
    bool noticeShown_ = false;
    bool rowsShown_ = false;
    bool answering_ = false;  // the notices' answers come here
};

}  // namespace orvan
