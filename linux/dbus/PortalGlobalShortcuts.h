#pragma once

#include <gio/gio.h>

#include <string>

#include "linux/glib/GObjectPtr.h"
#include "platform/GlobalHotKeys.h"

namespace orvan {

// Global hot keys through the desktop portal's GlobalShortcuts, for a Wayland session where no
// client may grab keys: a session is created, the shortcut bound with the keys as its preferred
// trigger (the desktop may let the user pick another), and each `Activated` of it is a press.
// Registration is accepted at once and refused later, through `refused`, with one of the codes
// below (or kUnavailable when there is no portal at all).
class PortalGlobalShortcuts final : public GlobalHotKeys {
public:
    // The portal is there but offers no GlobalShortcuts (or one older than version 1).
    static constexpr int kNotOffered = -2;
    // The portal did not create the shortcuts session.
    static constexpr int kSessionRefused = -3;
    // The portal did not bind the shortcut (refused, cancelled by the user, or left it out).
    static constexpr int kBindRefused = -4;

    // `bus`: the session bus, none when there is none; `description`: what the shortcut does, in
    // the words the desktop shows the user.
    PortalGlobalShortcuts(GObjectPtr<GDBusConnection> bus, std::string description)
        : bus_(std::move(bus)), description_(std::move(description)) {}
    HotKeyRegistration registerHotKey(const std::vector<std::string>& keys, Pressed pressed, Refused refused) override;

    // "LOGO+SHIFT+o" for {"Super", "Shift", "o"}: the desktop shortcuts notation.
    static std::string trigger(const std::vector<std::string>& keys);

private:
    GObjectPtr<GDBusConnection> bus_;
    std::string description_;
};

}  // namespace orvan
