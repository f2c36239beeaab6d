#include "linux/gtk/GtkDesktopApplication.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xatom.h>
#include <gdk/gdkx.h>
#endif
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

#include <optional>
#include <string>
#include <vector>

#include "linux/gtk/GtkWindowTerms.h"

namespace orvan {
namespace {

#ifdef GDK_WINDOWING_X11
// The window manager's word on which window is active. Unlike the focus GTK reports, a key grab
// (our own hot key, while it is held down) does not change it. None without such a manager.
std::optional<::Window> managersActiveWindow(GdkScreen* screen) {
    if (screen == nullptr || !GDK_IS_X11_SCREEN(screen)) return std::nullopt;
    if (!gdk_x11_screen_supports_net_wm_hint(screen, gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"))) {
        return std::nullopt;
    }
    Display* display = GDK_SCREEN_XDISPLAY(screen);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, gdk_x11_window_get_xid(gdk_screen_get_root_window(screen)),
                                          gdk_x11_get_xatom_by_name_for_display(gdk_screen_get_display(screen),
                                                                                "_NET_ACTIVE_WINDOW"),
                                          0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data);
    std::optional<::Window> active;
    if (status == Success && type == XA_WINDOW && format == 32 && count == 1 && data != nullptr) {
        active = *reinterpret_cast<::Window*>(data);
    }
    if (data != nullptr) XFree(data);
    return active;
}
#endif

// Whether one of the application's windows is the active one.
bool anyWindowActive(GtkApplication* application) {
#ifdef GDK_WINDOWING_X11
    if (const auto active = managersActiveWindow(gdk_screen_get_default())) {
        for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next) {
            GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(item->data));
            if (surface != nullptr && GDK_IS_X11_WINDOW(surface) && gdk_x11_window_get_xid(surface) == *active &&
                gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
                return true;
            }
        }
        return false;
    }
#endif
    for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (!gtk_widget_get_mapped(GTK_WIDGET(window))) continue;
        // A Wayland compositor says which toplevel it has activated; that holds without a keyboard
        // (GTK's own "active" follows the keyboard's focus) and while the shell's panel is clicked.
        GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
        if (surface != nullptr && (gdk_window_get_state(surface) & GDK_WINDOW_STATE_FOCUSED) != 0) return true;
        if (gtk_window_is_active(window)) return true;
    }
    return false;
}

// Set on a window unhide() has just shown, until the next activate() reads it.
constexpr const char* kReshownKey = "orvan-reshown";

#ifdef GDK_WINDOWING_WAYLAND
// The token goes to GTK's xdg-activation with the window's next focus request.
void presentWithToken(GtkWindow* window, const std::string& token) {
    gdk_wayland_display_set_startup_notification_id(gtk_widget_get_display(GTK_WIDGET(window)), token.c_str());
    gtk_window_present(window);
}

// The token of a focus request waiting for the compositor to map the window.
constexpr const char* kWaitingTokenKey = "orvan-waiting-token";

void presentWaiting(GtkWidget* window) {
    auto* waiting = static_cast<std::string*>(g_object_get_data(G_OBJECT(window), kWaitingTokenKey));
    if (waiting == nullptr) return;
    const std::string token = *waiting;
    g_object_set_data(G_OBJECT(window), kWaitingTokenKey, nullptr);
    presentWithToken(GTK_WINDOW(window), token);
}

void onFrameCommitted(GtkWidget* window, GdkFrameClock* clock) {
    g_signal_handlers_disconnect_by_func(clock, reinterpret_cast<gpointer>(&onFrameCommitted), window);
    presentWaiting(window);
}

gboolean onFirstConfigure(GtkWidget* window, GdkEvent*, gpointer) {
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(&onFirstConfigure), nullptr);
    GdkWindow* surface = gtk_widget_get_window(window);
    GdkFrameClock* clock = surface != nullptr ? gdk_window_get_frame_clock(surface) : nullptr;
    if (clock == nullptr) {
        presentWaiting(window);
        return FALSE;
    }
    // GDK's own handler, connected first, commits the frame drawn at the compositor's size.
    g_signal_connect_object(clock, "after-paint", G_CALLBACK(onFrameCommitted), window, G_CONNECT_SWAPPED);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);
    return FALSE;
}

// A window shown again a moment ago is a new toplevel, which the compositor maps with its first
// frame and until then drops a focus request for: the request waits for the compositor's first
// configure and the frame drawn for it.
void presentWhenMapped(GtkWindow* window, const std::string& token) {
    GtkWidget* widget = GTK_WIDGET(window);
    g_object_set_data_full(G_OBJECT(widget), kWaitingTokenKey, new std::string(token),
                           [](gpointer data) { delete static_cast<std::string*>(data); });
    g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(&onFirstConfigure), nullptr);
    g_signal_connect(widget, "configure-event", G_CALLBACK(onFirstConfigure), nullptr);
}
#endif

}  // namespace

GtkDesktopApplication::GtkDesktopApplication(std::function<GtkApplication*()> application)
    : application_(std::move(application)) {}

GtkDesktopApplication::~GtkDesktopApplication() { forgetHidden(); }

void GtkDesktopApplication::forgetHidden() {
    for (GtkWidget*& window : hidden_) {
        if (window != nullptr) g_object_remove_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
    }
    hidden_.clear();
}

bool GtkDesktopApplication::hasVisibleMainWindow() {
    for (GtkWidget* window : hidden_) {
        if (window != nullptr && canBecomeMain(GTK_WINDOW(window))) return true;
    }
    GtkApplication* application = application_();
    if (application == nullptr) return false;
    // A minimised window counts too: bringing the application forward restores it, so it must not
    // be joined by a new one.
    for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (gtk_widget_get_visible(GTK_WIDGET(window)) && canBecomeMain(window)) return true;
    }
    return false;
}

bool GtkDesktopApplication::isActive() {
    GtkApplication* application = application_();
    return application != nullptr && anyWindowActive(application);
}

void GtkDesktopApplication::hide() {
    GtkApplication* application = application_();
    if (application == nullptr) return;
    for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (!gtk_widget_get_visible(window)) continue;
        GtkWidget*& slot = hidden_.emplace_back(window);
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&slot));
    }
    for (GtkWidget* window : hidden_) {
        if (window != nullptr) gtk_widget_hide(window);
    }
}

void GtkDesktopApplication::unhide() {
    std::vector<GtkWidget*> windows;
    for (GtkWidget* window : hidden_) {
        if (window != nullptr) windows.push_back(window);
    }
    forgetHidden();
    for (GtkWidget* window : windows) {
        gtk_widget_show(window);
        g_object_set_data(G_OBJECT(window), kReshownKey, GINT_TO_POINTER(1));
    }
}

void GtkDesktopApplication::activate(const std::string& activationToken) {
    GtkApplication* application = application_();
    if (application == nullptr) return;
    // The application's window list begins with the one focused last.
    GtkWindow* front = nullptr;
    [[maybe_unused]] bool reshown = false;
    for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        const bool mark = g_object_steal_data(G_OBJECT(window), kReshownKey) != nullptr;
        if (front == nullptr && gtk_widget_get_visible(GTK_WIDGET(window)) && canBecomeMain(window)) {
            front = window;
            reshown = mark;
        }
    }
    if (front == nullptr) return;
    // The desktop's token is what allows the focus change. On Wayland GTK hands it to the compositor
    // (xdg-activation) with the next focus request of the display's windows.
    if (!activationToken.empty()) {
#ifdef GDK_WINDOWING_WAYLAND
        if (GDK_IS_WAYLAND_DISPLAY(gtk_widget_get_display(GTK_WIDGET(front)))) {
            if (reshown) presentWhenMapped(front, activationToken);
            else presentWithToken(front, activationToken);
            return;
        }
#endif
        gtk_window_set_startup_id(front, activationToken.c_str());
    }
#ifdef GDK_WINDOWING_X11
    // On X11, without an event to take the time from, the X server's current time is what lets the
    // window manager hand us the focus instead of only flashing the task bar entry.
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(front));
    if (surface != nullptr && GDK_IS_X11_WINDOW(surface)) {
        gtk_window_present_with_time(front, gdk_x11_get_server_time(surface));
        return;
    }
#endif
    gtk_window_present(front);
}

void GtkDesktopApplication::keepRunningWithoutWindows(bool keep) {
    GtkApplication* application = application_();
    if (held_ == keep || application == nullptr) return;
    held_ = keep;
    // Let go with no window open, the application ends here, unless a recording still holds it.
    if (keep) g_application_hold(G_APPLICATION(application));
    else g_application_release(G_APPLICATION(application));
}

void GtkDesktopApplication::terminate() { closeWindowsAndQuit(application_()); }

void closeWindowsAndQuit(GtkApplication* application) {
    if (application == nullptr) return;
    // Every window closes first, so each one's web view and its page go away in order.
    GList* windows = g_list_copy(gtk_application_get_windows(application));
    for (GList* item = windows; item != nullptr; item = item->next) gtk_widget_destroy(GTK_WIDGET(item->data));
    g_list_free(windows);
    g_application_quit(G_APPLICATION(application));
}

}  // namespace orvan
