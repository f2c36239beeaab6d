#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <list>

#include "platform/DesktopApplication.h"

namespace orvan {

// The application's windows on GTK 3. Hiding the application hides its shown windows and keeps a
// weak pointer to each, so unhiding shows exactly those again (a window closed meanwhile is gone).
class GtkDesktopApplication final : public DesktopApplication {
public:
    // Asked on every call: the application may be created after this object.
    explicit GtkDesktopApplication(std::function<GtkApplication*()> application);
    ~GtkDesktopApplication() override;
    GtkDesktopApplication(const GtkDesktopApplication&) = delete;
    GtkDesktopApplication& operator=(const GtkDesktopApplication&) = delete;

    bool hasVisibleMainWindow() override;
    bool isActive() override;
    void hide() override;
    void unhide() override;
    void activate(const std::string& activationToken) override;
    void keepRunningWithoutWindows(bool keep) override;
    void terminate() override;

private:
    void forgetHidden();

    std::function<GtkApplication*()> application_;
    std::list<GtkWidget*> hidden_;  // weak pointers (stable addresses): nulled when the window goes
    bool held_ = false;
};

// Closes every window of `application` and ends its main loop: the application's own way out.
void closeWindowsAndQuit(GtkApplication* application);

}  // namespace orvan
