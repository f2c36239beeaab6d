#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

#include "linux/dbus/PortalRequest.h"
#include "linux/glib/GObjectPtr.h"
#include "platform/LoginItem.h"
#include "platform/UserDefaults.h"

namespace orvan {

// Launch at login inside a sandbox, where the autostart folder is the sandbox's own: the desktop
// portal's Background.RequestBackground is asked to start `commandLine` at login (or no more).
// The portal cannot be asked what it granted, so what it granted last is remembered.
class PortalBackgroundLoginItem final : public LoginItem {
public:
    // Where `remembered` keeps the last grant ("YES" or "NO").
    static constexpr const char* kRememberedKey = "autostartGranted";

    // `bus`: the session bus, none when there is none; `reason`: shown by the desktop when it asks.
    PortalBackgroundLoginItem(GObjectPtr<GDBusConnection> bus, std::vector<std::string> commandLine,
                              std::shared_ptr<UserDefaults> remembered, std::string reason)
        : bus_(std::move(bus)), commandLine_(std::move(commandLine)), remembered_(std::move(remembered)),
          reason_(std::move(reason)) {}
    bool enabled() override;
    // Asks the portal; the grant is remembered when it answers, a refusal goes to `failed`.
    // Asking again before the answer drops the earlier question.
    void setEnabled(bool enabled, Failed failed) override;

private:
    void answered(bool wanted, const PortalAnswer& answer, const Failed& failed);

    GObjectPtr<GDBusConnection> bus_;
    std::vector<std::string> commandLine_;
    std::shared_ptr<UserDefaults> remembered_;
    std::string reason_;
    std::unique_ptr<PortalRequest> request_;
};

}  // namespace orvan
