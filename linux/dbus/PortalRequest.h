#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "linux/glib/GObjectPtr.h"

namespace orvan {

// The desktop portal's service and object, shared by every portal interface.
inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalObject = "/org/freedesktop/portal/desktop";

// What a portal request ended with: the portal's response (0 granted, 1 cancelled by the user,
// 2 ended otherwise) and its results (a{sv}), or the error of the call itself.
struct PortalAnswer {
    std::uint32_t response = 2;
    GVariant* results = nullptr;  // borrowed for the callback; never null when `error` is empty
    std::string error;            // the call failed (no portal, no such method, ...)
    bool granted() const { return error.empty() && response == 0; }
};

// One call of a portal method that answers through a Request object. The Response signal is
// subscribed before the call (at the path the handle token makes), so a quick answer is never
// missed. `answered` runs once on the main loop, unless the request is destroyed first; it may
// destroy the request.
class PortalRequest {
public:
    using Answered = std::function<void(const PortalAnswer&)>;

    // `arguments`: the method's arguments before its options, as a tuple (floating references are
    // sunk); `options`: a{sv} without the handle token, which is added here.
    PortalRequest(GDBusConnection* bus, const char* interface, const char* method, GVariant* arguments,
                  GVariant* options, Answered answered);
    ~PortalRequest();
    PortalRequest(const PortalRequest&) = delete;
    PortalRequest& operator=(const PortalRequest&) = delete;

    // A fresh token that can end an object path ("orvan" and digits).
    static std::string newToken();
    // The object path the portal gives the object named by `token` for this connection, below
    // `folder` ("request" or "session").
    static std::string objectPath(GDBusConnection* bus, const char* folder, const std::string& token);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace orvan
