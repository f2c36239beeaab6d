#include "plugin/MeetingPopup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "plugin/MeetingPopupPlacement.h"

namespace orvan {

std::string MeetingPopup::clockText(const std::string& label, int elapsed) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%02d:%02d", elapsed / 60, elapsed % 60);
    return label + " ・ " + digits;
}

double MeetingPopup::meterShare(float peak) {
    if (!(peak > 0)) return 0;
    return std::clamp((20 * std::log10(static_cast<double>(peak)) + 60) / 60, 0.0, 1.0);
}

void MeetingPopup::setWarning(const std::optional<std::string>& warning) {
    if (warning == warning_) return;
    warning_ = warning;
    // A save under way shows that, whatever happens meanwhile.
    if ((phase_ != "recording" && phase_ != "paused") || saving_) return;
    if (withoutPanel()) {
        if (rowsShown_) showRows();
    } else {
        showRecordingLine();
    }
}

void MeetingPopup::showRecordingLine() {
    if (!view_) return;
    view_->setSecondLine(warning_.value_or(clockText(label_, elapsed_)));
    view_->setSecondLineWarns(warning_.has_value());
}

void MeetingPopup::startMeters() {
    stopMeters();
    if (!levels || !ports_.timers || !view_) return;
    std::weak_ptr<MeetingPopup> weak = weak_from_this();
    meters_ = ports_.timers->schedule(kMeterInterval, true, [weak] {
        auto self = weak.lock();
        if (!self || !self->view_ || !self->levels) return;
        const MeetingLevels heard = self->levels();
        self->view_->setLevels(PopupLevels{meterShare(heard.microphone), meterShare(heard.systemAudio)});
    });
    view_->setLevels(PopupLevels{});
}

void MeetingPopup::stopMeters() {
    if (!meters_) return;
    meters_.reset();
    if (view_) view_->setLevels(std::nullopt);
}

void MeetingPopup::show(const std::string& phase, const std::string& label, const std::optional<std::string>& message) {
    saving_ = false;
    message_ = message;
    // Pause and resume continue the count; a recording after anything else starts it afresh.
    if (phase == "recording" && phase_ != "recording" && phase_ != "paused") elapsed_ = 0;
    phase_ = phase;
    label_ = label;
    if (!view_) build();
    if (withoutPanel()) {
        renderWithoutPanel();
        return;
    }
    render(message);
    if (view_) view_->orderFront();
}

void MeetingPopup::build() {
    if (!ports_.makeView) return;
    view_ = ports_.makeView();
    if (!view_) return;
    const auto remembered = ports_.defaults ? ports_.defaults->string(MeetingPopupPlacement::kOriginKey) : std::nullopt;
    if (const auto origin = MeetingPopupPlacement::origin(remembered, view_->screens())) view_->setOrigin(*origin);
    std::weak_ptr<MeetingPopup> weak = weak_from_this();
    view_->setMoveHandler([weak](PopupPoint origin) {
        if (auto self = weak.lock()) self->moved(origin);
    });
    view_->setCloseHandler([weak] {
        if (auto self = weak.lock()) self->closed();
    });
}

// Closed through the desktop: an offer or a message is turned down as with its own button; a
// recording goes on without its panel.
void MeetingPopup::closed() {
    const std::string phase = phase_.value_or("");
    hide();
    if (phase != "recording" && phase != "paused") send("dismiss");
}

// A drag reports many moves: the first is saved at once, later ones at most every interval, and
// the last one of the drag when its interval is over, so the panel comes back where it was left.
void MeetingPopup::moved(PopupPoint origin) {
    unsavedOrigin_ = origin;
    if (!saveInterval_) saveOrigin();
}

void MeetingPopup::saveOrigin() {
    if (!unsavedOrigin_ || !ports_.defaults) return;
    ports_.defaults->setString(MeetingPopupPlacement::kOriginKey, MeetingPopupPlacement::pointString(*unsavedOrigin_));
    unsavedOrigin_.reset();
    if (!ports_.timers) return;
    std::weak_ptr<MeetingPopup> weak = weak_from_this();
    saveInterval_ = ports_.timers->schedule(kSaveInterval, false, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->saveInterval_.reset();
        self->saveOrigin();
    });
}

void MeetingPopup::hide() {
    clock_.reset();
    stopMeters();
    phase_.reset();
    if (view_) view_->orderOut();
    clearWithoutPanel();
}

PopupButton MeetingPopup::button(const std::string& title, bool accent, std::function<void(MeetingPopup&)> press) {
    // The panel may be gone by the time a press arrives: hold it weakly.
    std::weak_ptr<MeetingPopup> weak = weak_from_this();
    return PopupButton{title, accent, [weak, press = std::move(press)] {
                           if (auto self = weak.lock()) press(*self);
                       }};
}

void MeetingPopup::render(const std::optional<std::string>& message) {
    clock_.reset();
    stopMeters();
    if (!view_) return;
    view_->setError(message);
    view_->setSecondLineWarns(false);
    const auto sendAction = [](const char* action) { return [action](MeetingPopup& self) { self.send(action); }; };
    const auto finish = [](MeetingPopup& self) {
        self.clock_.reset();
        self.stopMeters();
        self.saving_ = true;
        self.view_->setSecondLine("保存しています…");
        self.view_->setSecondLineWarns(false);
        self.view_->setButtons({});
        self.send("finish");
    };
    const std::string phase = phase_.value_or("");
    if (phase == "invite") {
        view_->setTitle(label_ + " の会議が始まりました");
        view_->setSecondLine("議事録を取りますか？");
        view_->setButtons({button("取る", true,
                                  [](MeetingPopup& self) {
                                      self.view_->setSecondLine("録音を始めています…");
                                      self.view_->setButtons({});
                                      self.send("start");
                                  }),
                           button("あとで", false, sendAction("dismiss"))});
    } else if (phase == "recording" || phase == "paused") {
        const bool recording = phase == "recording";
        view_->setTitle(recording ? "● 記録しています" : "一時停止しています");
        showRecordingLine();
        view_->setButtons({recording ? button("一時停止", false, sendAction("pause"))
                                     : button("再開", true, sendAction("resume")),
                           button("止めて保存", true, finish)});
        if (recording && ports_.timers) {
            std::weak_ptr<MeetingPopup> weak = weak_from_this();
            clock_ = ports_.timers->schedule(std::chrono::seconds(1), true, [weak] {
                auto self = weak.lock();
                if (!self || !self->view_) return;
                ++self->elapsed_;
                if (!self->warning_) self->view_->setSecondLine(clockText(self->label_, self->elapsed_));
            });
            startMeters();
        }
    } else if (phase == "permission") {
        view_->setTitle("画面収録の許可が要ります");
        view_->setSecondLine("システム設定 → プライバシーとセキュリティ → 画面収録");
        view_->setButtons({button("設定を開く", true,
                                  [](MeetingPopup& self) {
                                      if (self.ports_.openSettings) self.ports_.openSettings();
                                  }),
                           button("閉じる", false, sendAction("dismiss"))});
    } else {
        view_->setTitle("録音を始められませんでした");
        view_->setSecondLine("");
        view_->setButtons({button("閉じる", false, sendAction("dismiss"))});
    }
}

}  // namespace orvan
