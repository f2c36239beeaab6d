#pragma once

#include <gtk/gtk.h>

#include <functional>

namespace orvan {

// Tells when the application goes to the background (its last showing window was hidden, iconified
// or closed) and when it comes back (one shows again). It starts in the foreground.
class GtkSceneLifecycle {
public:
    using Handler = std::function<void(bool foreground)>;

    GtkSceneLifecycle(GtkApplication* application, Handler handler);
    ~GtkSceneLifecycle();
    GtkSceneLifecycle(const GtkSceneLifecycle&) = delete;
    GtkSceneLifecycle& operator=(const GtkSceneLifecycle&) = delete;

private:
    static void onWindowAdded(GtkApplication* application, GtkWindow* window, gpointer self);
    static void onWindowRemoved(GtkApplication* application, GtkWindow* window, gpointer self);
    void follow(GtkWindow* window);
    void update();

    GtkApplication* application_;  // outlives this
    Handler handler_;
    bool foreground_ = true;
};

}  // namespace orvan
