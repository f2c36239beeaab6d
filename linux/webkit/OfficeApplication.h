#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "app/GoMenu.h"
#include "app/OfficeAppDelegate.h"
#include "platform/ApplicationActivator.h"
#include "linux/glib/GObjectPtr.h"
#include "linux/webkit/ShellServices.h"

namespace orvan {

// The GtkApplication: one instance per user session (a second launch opens a new window in the
// running one), the menubar with its shortcuts, and a window per activation.
class OfficeApplication {
public:
    static constexpr const char* kApplicationId = "jp.tomoriva.OrvanOffice";

    explicit OfficeApplication(ShellServices services);
    int run(int argc, char** argv);

    // Brings this application's window to the front.
    std::shared_ptr<ApplicationActivator> activator() const { return activator_; }
    // Told at start-up, before the first window opens.
    void setDelegate(std::shared_ptr<OfficeAppDelegate> delegate) { delegate_ = std::move(delegate); }
    // What "--toggle" does in the running instance (the desktop's keyboard settings bind it).
    void setToggle(std::function<void()> toggle) { toggle_ = std::move(toggle); }

    GtkApplication* application() const { return application_.get(); }

private:
    static void onStartup(GApplication* application, gpointer self);
    static void onActivate(GApplication* application, gpointer self);
    static gint onLocalOptions(GApplication* application, GVariantDict* options, gpointer self);
    void installMenu();

    ShellServices services_;
    GoMenu goMenu_;
    GObjectPtr<GtkApplication> application_;
    std::shared_ptr<ApplicationActivator> activator_;
    std::shared_ptr<OfficeAppDelegate> delegate_;
    std::function<void()> toggle_;
};

}  // namespace orvan
