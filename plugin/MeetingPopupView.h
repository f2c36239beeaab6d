#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvan {

struct PopupButton {
    std::string title;
    bool accent = false;
    std::function<void()> press;
};

// The floating panel as the popup logic sees it: three lines, a row of buttons, shown or not.
class MeetingPopupView {
public:
    virtual ~MeetingPopupView() = default;
    virtual void setTitle(const std::string& text) = 0;
    virtual void setSecondLine(const std::string& text) = 0;
    // Hidden when there is no message.
    virtual void setError(const std::optional<std::string>& message) = 0;
    // Replaces the buttons, right-aligned, left to right.
    virtual void setButtons(std::vector<PopupButton> buttons) = 0;
    // Brings the panel to the front without taking the focus.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    virtual bool isVisible() const = 0;
};

}  // namespace orvan
