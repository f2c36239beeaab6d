#pragma once

#include <functional>
#include <optional>
#include <string>

namespace orvan {

// The floating meeting panel's state. The panel itself does not exist yet, so it is never on
// screen; phase and label are kept for when it does.
class MeetingPopup {
public:
    std::function<void(const std::string& action)> onAction = [](const std::string&) {};

    void show(const std::string& phase, const std::string& label, const std::optional<std::string>& message) {
        if (phase == "recording" && phase_ != "recording" && phase_ != "paused") elapsed_ = 0;
        phase_ = phase;
        label_ = label;
        message_ = message;
    }
    void hide() { phase_.reset(); }
    bool visible() const { return false; }

private:
    std::optional<std::string> phase_;
    std::string label_;
    std::optional<std::string> message_;
    int elapsed_ = 0;
};

}  // namespace orvan
