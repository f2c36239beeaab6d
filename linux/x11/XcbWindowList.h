#pragma once

#include <memory>
#include <string>

#include "platform/MeetingSources.h"

namespace orvan {

// The X server's application windows, front to back: the window manager's client list in stacking
// order, without docks, desktop, menus and notifications, each with its class and its UTF-8 name.
// All properties of a pass are asked for at once and their replies read afterwards.
class XcbWindowList final : public WindowList {
public:
    // `display` empty: the one in $DISPLAY.
    explicit XcbWindowList(std::string display = {});
    ~XcbWindowList() override;
    XcbWindowList(const XcbWindowList&) = delete;
    XcbWindowList& operator=(const XcbWindowList&) = delete;

    DesktopWindows list() override;

private:
    struct Connection;
    bool connect();

    std::string display_;
    std::unique_ptr<Connection> connection_;
};

}  // namespace orvan
