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

// Desktop coordinates as the popup's logic keeps them: the origin at the bottom-left corner of the
// primary monitor, y growing upwards; a panel's origin is its bottom-left corner.
struct PopupPoint {
    double x = 0;
    double y = 0;
    bool operator==(const PopupPoint&) const = default;
};

struct PopupRect {
    double x = 0, y = 0, width = 0, height = 0;
    bool contains(PopupPoint point) const {
        return point.x >= x && point.x < x + width && point.y >= y && point.y < y + height;
    }
};

// The two level meters, each the share of its length that is lit (0 to 1).
struct PopupLevels {
    double microphone = 0;
    double systemAudio = 0;
    bool operator==(const PopupLevels&) const = default;
};

// One monitor as it is now: the part of it that windows may use.
struct PopupScreen {
    PopupRect workArea;
    bool primary = false;
};

// The floating panel as the popup logic sees it: three lines, a row of buttons, shown or not,
// and where it sits on which monitors.
class MeetingPopupView {
public:
    virtual ~MeetingPopupView() = default;
    virtual void setTitle(const std::string& text) = 0;
    virtual void setSecondLine(const std::string& text) = 0;
    // The second line in the error colour (something goes wrong with the recording), or as usual.
    virtual void setSecondLineWarns(bool warns) = 0;
    // The microphone's and the system audio's level meters; none: no meters.
    virtual void setLevels(const std::optional<PopupLevels>& levels) = 0;
    // Hidden when there is no message.
    virtual void setError(const std::optional<std::string>& message) = 0;
    // Replaces the buttons, right-aligned, left to right.
    virtual void setButtons(std::vector<PopupButton> buttons) = 0;
    // Brings the panel to the front without taking the focus.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    virtual bool isVisible() const = 0;

    // The monitors connected now; one unplugged is simply not among them.
    virtual std::vector<PopupScreen> screens() const = 0;
    virtual void setOrigin(PopupPoint origin) = 0;
    // Told the new origin whenever the panel has been moved (by the user, not by setOrigin).
    virtual void setMoveHandler(std::function<void(PopupPoint origin)> moved) = 0;
    // Told when the user closes the panel through the desktop (its window menu, a key of the window
    // manager): the panel stays, hidden, and is never used closed.
    virtual void setCloseHandler(std::function<void()> closed) = 0;
};

}  // namespace orvan
