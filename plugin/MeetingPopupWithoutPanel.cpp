// The meeting popup where no panel can float: offers and messages as a notification carrying the
// panel's buttons, a recording's state and buttons as rows at the top of the tray menu. Nothing
// here takes the focus from the meeting.
#include <utility>

#include "plugin/MeetingPopup.h"

namespace orvan {

void MeetingPopup::renderWithoutPanel() {
    clock_.reset();
    const std::string phase = phase_.value_or("");
    if (phase == "recording" || phase == "paused") {
        if (noticeShown_ && ports_.notices) ports_.notices->remove(kNoticeIdentifier);
        noticeShown_ = false;
        showRows();
        if (phase == "recording" && ports_.timers) {
            std::weak_ptr<MeetingPopup> weak = weak_from_this();
            clock_ = ports_.timers->schedule(std::chrono::seconds(1), true, [weak] {
                auto self = weak.lock();
                if (!self) return;
                ++self->elapsed_;
                self->showRows();
            });
        }
        return;
    }
    if (rowsShown_ && ports_.trayRows) ports_.trayRows({});
    rowsShown_ = false;
    if (!ports_.notices) return;
    if (!std::exchange(answering_, true)) {
        std::weak_ptr<MeetingPopup> weak = weak_from_this();
        ports_.notices->setResponseHandler([weak](const NotificationResponse& response) {
            if (auto self = weak.lock()) self->answered(response);
        });
    }
    NotificationRequest notice;
    notice.identifier = kNoticeIdentifier;
    notice.sound = false;
    if (phase == "invite") {
        notice.title = label_ + " の会議が始まりました";
        notice.body = "議事録を取りますか？";
        notice.actions = {{"start", "取る"}, {"dismiss", "あとで"}};
    } else if (phase == "permission") {
        notice.title = "画面収録の許可が要ります";
        notice.body = "システム設定 → プライバシーとセキュリティ → 画面収録";
        notice.actions = {{"settings", "設定を開く"}, {"dismiss", "閉じる"}};
    } else {
        notice.title = "録音を始められませんでした";
        notice.body = message_.value_or("");
        notice.actions = {{"dismiss", "閉じる"}};
    }
    ports_.notices->add(notice);
    noticeShown_ = true;
}

void MeetingPopup::showRows() {
    if (!ports_.trayRows) return;
    const bool recording = phase_ == "recording";
    std::vector<StatusMenuEntry> rows;
    StatusMenuEntry state = StatusMenuEntry::item(
        (recording ? "● 記録しています ・ " : "一時停止しています ・ ") + clockText(label_, elapsed_), nullptr);
    state.enabled = false;
    rows.push_back(state);
    if (saving_) {
        rows.back().title = "保存しています…";
    } else {
        for (const auto& line : {warning_, message_}) {
            if (!line) continue;
            rows.push_back(StatusMenuEntry::item(*line, nullptr));
            rows.back().enabled = false;
        }
        // The buttons hold the popup weakly: a row may be chosen after it is gone.
        std::weak_ptr<MeetingPopup> weak = weak_from_this();
        const auto sending = [weak](const char* action) {
            return [weak, action] {
                if (auto self = weak.lock()) self->send(action);
            };
        };
        rows.push_back(recording ? StatusMenuEntry::item("一時停止", sending("pause"))
                                 : StatusMenuEntry::item("再開", sending("resume")));
        rows.push_back(StatusMenuEntry::item("止めて保存", [weak] {
            auto self = weak.lock();
            if (!self) return;
            self->clock_.reset();
            self->saving_ = true;
            self->showRows();
            self->send("finish");
        }));
    }
    rows.push_back(StatusMenuEntry::separator());
    ports_.trayRows(std::move(rows));
    rowsShown_ = true;
}

void MeetingPopup::clearWithoutPanel() {
    if (noticeShown_ && ports_.notices) ports_.notices->remove(kNoticeIdentifier);
    if (rowsShown_ && ports_.trayRows) ports_.trayRows({});
    noticeShown_ = rowsShown_ = false;
}

void MeetingPopup::answered(const NotificationResponse& response) {
    // The desktop takes the notification away once a button is pressed.
    noticeShown_ = false;
    const std::string& action = response.actionIdentifier;
    if (action == "settings") {
        if (ports_.openSettings) ports_.openSettings();
    } else if (action == "start" || action == "dismiss") {
        send(action);
    }
}

}  // namespace orvan
