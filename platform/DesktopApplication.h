#pragma once

#include <string>

namespace orvan {

// The running application as the tray companion sees it: its windows as a whole.
class DesktopApplication {
public:
    virtual ~DesktopApplication() = default;
    // Some window of the application is visible and can become the main window. Windows hidden
    // with the application count: showing the application brings them back.
    virtual bool hasVisibleMainWindow() = 0;
    // One of the application's windows has the focus.
    virtual bool isActive() = 0;
    // Hides every window and remembers them; unhide shows those again.
    virtual void hide() = 0;
    virtual void unhide() = 0;
    // Brings the application's window to the front, ahead of other applications. `activationToken`
    // (may be empty) is the desktop's permission to take the focus.
    virtual void activate(const std::string& activationToken) = 0;
    // Whether the application keeps running with no window open (while the tray can bring one back).
    virtual void keepRunningWithoutWindows(bool keep) = 0;
    virtual void terminate() = 0;
};

}  // namespace orvan
