#include "linux/gtk/GtkMeetingPopupPanel.h"

#include <utility>

#include "plugin/MeetingPopupPlacement.h"

namespace orvan {
namespace {

constexpr int kWidth = static_cast<int>(MeetingPopupPlacement::kWidth);
constexpr int kHeight = static_cast<int>(MeetingPopupPlacement::kHeight);

// Sizes in logical pixels, the unit the panel's layout is drawn up in; compact buttons so two lines
// and a row of them fit its height. The error line, and a warning in the second line, take the
// theme's own error colour; the meters are thin bars in its selection colour.
constexpr const char* kStyle = R"(
.orvan-meeting-popup button { min-height: 20px; padding: 2px 12px; }
.orvan-meeting-popup .orvan-title { font-weight: bold; font-size: 13px; }
.orvan-meeting-popup .orvan-second { font-size: 12px; font-feature-settings: "tnum"; }
.orvan-meeting-popup .orvan-second.orvan-warning { color: @error_color; }
.orvan-meeting-popup .orvan-error { font-size: 11px; color: @error_color; }
.orvan-meeting-popup .orvan-meter-label { font-size: 9px; }
.orvan-meeting-popup levelbar trough { min-height: 5px; min-width: 64px; padding: 0; }
.orvan-meeting-popup levelbar block { min-height: 5px; border: none; }
.orvan-meeting-popup levelbar block.filled { background-color: @theme_selected_bg_color; }
)";

constexpr int kMeterWidth = 64;

void addClass(GtkWidget* widget, const char* name) {
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), name);
}

GtkWidget* line(const char* styleClass) {
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    addClass(label, styleClass);
    return label;
}

void installStyle(GtkWidget* window) {
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// A continuous bar without the theme's low/high marks: a meter, not a gauge.
GtkWidget* meter() {
    GtkWidget* bar = gtk_level_bar_new_for_interval(0, 1);
    for (const char* mark : {GTK_LEVEL_BAR_OFFSET_LOW, GTK_LEVEL_BAR_OFFSET_HIGH, GTK_LEVEL_BAR_OFFSET_FULL})
        gtk_level_bar_remove_offset_value(GTK_LEVEL_BAR(bar), mark);
    gtk_widget_set_size_request(bar, kMeterWidth, -1);
    gtk_widget_set_valign(bar, GTK_ALIGN_CENTER);
    return bar;
}

void pressed(GtkButton*, gpointer data) {
    // The press may replace the buttons (and with them this handler): call a copy.
    auto press = *static_cast<std::function<void()>*>(data);
    press();
}

}  // namespace

GtkMeetingPopupPanel::GtkMeetingPopupPanel(GdkDisplay* display) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window_);  // ours until the destructor, whatever GTK does with toplevels
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_screen(window, gdk_display_get_default_screen(display));
    gtk_window_set_title(window, "会議");
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_keep_above(window, TRUE);
    gtk_window_stick(window);
    gtk_window_set_accept_focus(window, FALSE);
    gtk_window_set_focus_on_map(window, FALSE);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);
    gtk_widget_set_size_request(window_, kWidth, kHeight);
    addClass(window_, "orvan-meeting-popup");
    installStyle(window_);

    title_ = line("orvan-title");
    second_ = line("orvan-second");
    error_ = line("orvan-error");
    addClass(error_, "error");
    // A message wraps at the panel's width instead of widening it.
    gtk_label_set_line_wrap(GTK_LABEL(error_), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(error_), 1);

    GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    for (GtkWidget* label : {title_, second_, error_}) gtk_box_pack_start(GTK_BOX(lines), label, FALSE, FALSE, 0);
    actions_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    meters_ = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(meters_), 0);
    gtk_grid_set_column_spacing(GTK_GRID(meters_), 6);
    gtk_widget_set_valign(meters_, GTK_ALIGN_CENTER);
    microphoneMeter_ = meter();
    systemMeter_ = meter();
    int row = 0;
    for (auto [name, bar] : {std::pair{"マイク", microphoneMeter_}, std::pair{"相手", systemMeter_}}) {
        GtkWidget* label = line("orvan-meter-label");
        gtk_label_set_text(GTK_LABEL(label), name);
        gtk_grid_attach(GTK_GRID(meters_), label, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(meters_), bar, 1, row++, 1, 1);
    }
    GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_box_pack_start(GTK_BOX(bottom), meters_, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(bottom), actions_, FALSE, FALSE, 0);
    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    g_object_set(outer, "margin-top", 14, "margin-start", 16, "margin-bottom", 12, "margin-end", 16, nullptr);
    gtk_box_pack_start(GTK_BOX(outer), lines, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(outer), bottom, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window_), outer);
    gtk_widget_show_all(outer);
    gtk_widget_hide(error_);
    gtk_widget_hide(meters_);

    // Presses that no button takes (the background, the labels) start a drag of the panel.
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_STRUCTURE_MASK);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(onButtonPress), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(onConfigure), this);
    // Closed by the window manager, the panel is only hidden: destroyed, its labels would be gone
    // under the clock that still writes to them.
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
}

GtkMeetingPopupPanel::~GtkMeetingPopupPanel() {
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
    g_object_unref(window_);
}

void GtkMeetingPopupPanel::setTitle(const std::string& text) { gtk_label_set_text(GTK_LABEL(title_), text.c_str()); }

void GtkMeetingPopupPanel::setSecondLine(const std::string& text) {
    gtk_label_set_text(GTK_LABEL(second_), text.c_str());
    // An empty line takes no room, so the failure's message fits without growing the panel.
    showLine(second_, !text.empty());
    // The permission line is a few pixels wider than the panel: it widens the panel for as long as
    // it is shown rather than break a word in two.
    gtk_window_resize(GTK_WINDOW(window_), kWidth, kHeight);
}

void GtkMeetingPopupPanel::setSecondLineWarns(bool warns) {
    GtkStyleContext* style = gtk_widget_get_style_context(second_);
    if (warns) gtk_style_context_add_class(style, "orvan-warning");
    else gtk_style_context_remove_class(style, "orvan-warning");
}

void GtkMeetingPopupPanel::setLevels(const std::optional<PopupLevels>& levels) {
    gtk_widget_set_visible(meters_, levels.has_value());
    if (!levels) return;
    gtk_level_bar_set_value(GTK_LEVEL_BAR(microphoneMeter_), levels->microphone);
    gtk_level_bar_set_value(GTK_LEVEL_BAR(systemMeter_), levels->systemAudio);
}

void GtkMeetingPopupPanel::showLine(GtkWidget* label, bool shown) {
    if (gtk_widget_get_visible(label) == static_cast<gboolean>(shown)) return;
    gtk_widget_set_visible(label, shown);
    // Back to the smallest size its content allows once a line is gone again.
    gtk_window_resize(GTK_WINDOW(window_), kWidth, kHeight);
}

void GtkMeetingPopupPanel::setError(const std::optional<std::string>& message) {
    gtk_label_set_text(GTK_LABEL(error_), message.value_or("").c_str());
    showLine(error_, message.has_value());
}

void GtkMeetingPopupPanel::setButtons(std::vector<PopupButton> buttons) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(actions_));
    for (GList* child = children; child != nullptr; child = child->next) gtk_widget_destroy(GTK_WIDGET(child->data));
    g_list_free(children);
    for (PopupButton& made : buttons) {
        GtkWidget* button = gtk_button_new_with_label(made.title.c_str());
        gtk_widget_set_focus_on_click(button, FALSE);
        if (made.accent) addClass(button, "suggested-action");
        g_signal_connect_data(button, "clicked", G_CALLBACK(pressed), new std::function<void()>(std::move(made.press)),
                              [](gpointer data, GClosure*) { delete static_cast<std::function<void()>*>(data); },
                              GConnectFlags(0));
        gtk_box_pack_start(GTK_BOX(actions_), button, FALSE, FALSE, 0);
        gtk_widget_show(button);
    }
}

void GtkMeetingPopupPanel::orderFront() {
    gtk_widget_show(window_);
    if (GdkWindow* shown = gtk_widget_get_window(window_)) gdk_window_raise(shown);
}

void GtkMeetingPopupPanel::orderOut() { gtk_widget_hide(window_); }

bool GtkMeetingPopupPanel::isVisible() const { return gtk_widget_get_visible(window_); }

int GtkMeetingPopupPanel::primaryBottom() const {
    GdkDisplay* display = gtk_widget_get_display(window_);
    GdkMonitor* primary = gdk_display_get_primary_monitor(display);
    if (primary == nullptr && gdk_display_get_n_monitors(display) > 0) primary = gdk_display_get_monitor(display, 0);
    if (primary == nullptr) return 0;
    GdkRectangle geometry;
    gdk_monitor_get_geometry(primary, &geometry);
    return geometry.y + geometry.height;
}

std::vector<PopupScreen> GtkMeetingPopupPanel::screens() const {
    GdkDisplay* display = gtk_widget_get_display(window_);
    const int bottom = primaryBottom();
    std::vector<PopupScreen> screens;
    for (int i = 0, count = gdk_display_get_n_monitors(display); i < count; ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        // X's rectangle runs down from its top; the logic's runs up from its bottom.
        screens.push_back({{static_cast<double>(area.x), static_cast<double>(bottom - (area.y + area.height)),
                            static_cast<double>(area.width), static_cast<double>(area.height)},
                           gdk_monitor_is_primary(monitor) != FALSE});
    }
    return screens;
}

void GtkMeetingPopupPanel::setOrigin(PopupPoint origin) {
    int width = kWidth;
    int height = kHeight;
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    // The origin is the panel's bottom-left corner; X places its top-left one.
    knownX_ = static_cast<int>(origin.x);
    knownY_ = primaryBottom() - static_cast<int>(origin.y) - height;
    known_ = true;
    gtk_window_move(GTK_WINDOW(window_), knownX_, knownY_);
}

void GtkMeetingPopupPanel::setMoveHandler(std::function<void(PopupPoint)> moved) { moved_ = std::move(moved); }

void GtkMeetingPopupPanel::setCloseHandler(std::function<void()> closed) { closed_ = std::move(closed); }

gboolean GtkMeetingPopupPanel::onDelete(GtkWidget* widget, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkMeetingPopupPanel*>(data);
    gtk_widget_hide(widget);
    if (self->closed_) self->closed_();
    return TRUE;
}

gboolean GtkMeetingPopupPanel::onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer) {
    if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
    gtk_window_begin_move_drag(GTK_WINDOW(widget), static_cast<int>(event->button), static_cast<int>(event->x_root),
                               static_cast<int>(event->y_root), event->time);
    return TRUE;
}

gboolean GtkMeetingPopupPanel::onConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    auto* self = static_cast<GtkMeetingPopupPanel*>(data);
    if (self->known_ && event->x == self->knownX_ && event->y == self->knownY_) return FALSE;
    self->knownX_ = event->x;
    self->knownY_ = event->y;
    self->known_ = true;
    if (self->moved_)
        self->moved_(PopupPoint{static_cast<double>(event->x),
                                static_cast<double>(self->primaryBottom() - (event->y + event->height))});
    return FALSE;
}

}  // namespace orvan
