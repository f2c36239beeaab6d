#include "linux/gtk/GtkDesktopApplication.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <vector>

#include "linux/gtk/GtkWindowTerms.h"

namespace orvan {

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
    return hasShowingMainWindow(application_());
}

bool GtkDesktopApplication::isActive() {
    GtkApplication* application = application_();
    if (application == nullptr) return false;
    for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (gtk_widget_get_mapped(GTK_WIDGET(window)) && gtk_window_is_active(window)) return true;
    }
    return false;
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
    for (GtkWidget* window : windows) gtk_widget_show(window);
}

void GtkDesktopApplication::activate(const std::string& activationToken) {
    GtkApplication* application = application_();
    if (application == nullptr) return;
    // The application's window list begins with the one focused last.
    GtkWindow* front = nullptr;
    for (GList* item = gtk_application_get_windows(application); item != nullptr && front == nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (gtk_widget_get_visible(GTK_WIDGET(window)) && canBecomeMain(window)) front = window;
    }
    if (front == nullptr) return;
    // On Wayland the desktop's token is what allows the focus change.
    if (!activationToken.empty()) gtk_window_set_startup_id(front, activationToken.c_str());
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

void GtkDesktopApplication::keepRunningWithoutWindows() {
    GtkApplication* application = application_();
    if (held_ || application == nullptr) return;
    g_application_hold(G_APPLICATION(application));
    held_ = true;
}

void GtkDesktopApplication::terminate() {
    GtkApplication* application = application_();
    if (application == nullptr) return;
    // Every window closes first, so each one's web view and its page go away in order.
    GList* windows = g_list_copy(gtk_application_get_windows(application));
    for (GList* item = windows; item != nullptr; item = item->next) gtk_widget_destroy(GTK_WIDGET(item->data));
    g_list_free(windows);
    g_application_quit(G_APPLICATION(application));
}

}  // namespace orvan
