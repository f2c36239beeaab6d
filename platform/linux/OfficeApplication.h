#pragma once

#include <gtk/gtk.h>

#include "app/GoMenu.h"
#include "platform/linux/GObjectPtr.h"
#include "platform/linux/ShellServices.h"

namespace orvan {

// The GtkApplication: one instance per user session (a second launch opens a new window in the
// running one), the menubar with its shortcuts, and a window per activation.
class OfficeApplication {
public:
    static constexpr const char* kApplicationId = "jp.tomoriva.OrvanOffice";

    explicit OfficeApplication(ShellServices services);
    int run(int argc, char** argv);

    GtkApplication* application() const { return application_.get(); }

private:
    static void onStartup(GApplication* application, gpointer self);
    static void onActivate(GApplication* application, gpointer self);
    void installMenu();

    ShellServices services_;
    GoMenu goMenu_;
    GObjectPtr<GtkApplication> application_;
};

}  // namespace orvan
