#pragma once

#include <string>

#include "platform/GlobalHotKeys.h"

namespace orvan {

// Global hot keys as passive key grabs on the X root window, on a connection of their own, so
// that they also match with Num Lock, Caps Lock or Scroll Lock on. A grab that another client
// already holds fails with the X error code (BadAccess, 10).
class X11GlobalHotKeys final : public GlobalHotKeys {
public:
    // `displayName`: the X display to grab on; empty: $DISPLAY.
    explicit X11GlobalHotKeys(std::string displayName = {}) : displayName_(std::move(displayName)) {}
    // A grab is refused at once or never: `refused` is not used.
    HotKeyRegistration registerHotKey(const std::vector<std::string>& keys, Pressed pressed, Refused refused) override;

private:
    std::string displayName_;
};

}  // namespace orvan
