#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <vector>

#include "plugin/MeetingPopupView.h"

namespace orvan {

// The meeting popup's panel: an undecorated utility window of 340 × 104 that stays above other
// windows on every workspace, never takes the keyboard focus (a click on a button works without
// it), is in neither task bar nor pager, and is dragged by its background. Its coordinates are
// turned between X's top-left origin and the logic's bottom-left one here. A recording's two level
// meters sit left of its buttons.
class GtkMeetingPopupPanel final : public MeetingPopupView {
public:
    // On `display` (see floatingPanelDisplay()).
    explicit GtkMeetingPopupPanel(GdkDisplay* display);
    ~GtkMeetingPopupPanel() override;
    GtkMeetingPopupPanel(const GtkMeetingPopupPanel&) = delete;
    GtkMeetingPopupPanel& operator=(const GtkMeetingPopupPanel&) = delete;

    void setTitle(const std::string& text) override;
    void setSecondLine(const std::string& text) override;
    void setSecondLineWarns(bool warns) override;
    void setLevels(const std::optional<PopupLevels>& levels) override;
    void setError(const std::optional<std::string>& message) override;
    void setButtons(std::vector<PopupButton> buttons) override;
    void orderFront() override;
    void orderOut() override;
    bool isVisible() const override;
    std::vector<PopupScreen> screens() const override;
    void setOrigin(PopupPoint origin) override;
    void setMoveHandler(std::function<void(PopupPoint origin)> moved) override;
    void setCloseHandler(std::function<void()> closed) override;

    GtkWidget* window() const { return window_; }

private:
    static gboolean onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self);
    static gboolean onConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
    static gboolean onDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
    // The bottom of the primary monitor in X coordinates: where the logic's y is 0.
    int primaryBottom() const;
    void showLine(GtkWidget* label, bool shown);

    GtkWidget* window_ = nullptr;
    GtkWidget* title_ = nullptr;
    GtkWidget* second_ = nullptr;
    GtkWidget* error_ = nullptr;
    GtkWidget* actions_ = nullptr;
    GtkWidget* meters_ = nullptr;
    GtkWidget* microphoneMeter_ = nullptr;
    GtkWidget* systemMeter_ = nullptr;
    std::function<void(PopupPoint)> moved_;
    std::function<void()> closed_;
    // Where the window was last put or seen, in X coordinates: a configure event there is no move.
    int knownX_ = 0;
    int knownY_ = 0;
    bool known_ = false;
};

}  // namespace orvan
