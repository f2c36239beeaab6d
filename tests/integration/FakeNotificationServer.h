#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/integration/FakeBusService.h"

namespace orvan::testing {

// A notification server of our own on the session bus: it records what it is sent and can play the
// user's part by emitting the server's signals.
class FakeNotificationServer {
public:
    struct Notification {
        std::uint32_t id = 0;
        std::uint32_t replacesId = 0;
        std::string summary;
        std::string body;
        std::map<std::string, std::string> hints;  // printed as GVariant text: true, 'text', ...
    };

    explicit FakeNotificationServer(std::vector<std::string> capabilities = {"actions", "body", "sound"});
    ~FakeNotificationServer() { release(); }

    // Takes org.freedesktop.Notifications; false when someone else holds it.
    bool own() { return owned_ = bus_.own(kName); }
    // Gives the name up again; true when it was ours and is released now.
    bool release() { return std::exchange(owned_, false) && bus_.release(kName); }

    void emitActivationToken(std::uint32_t id, const std::string& token) {
        bus_.emit(kName, "ActivationToken", g_variant_new("(us)", id, token.c_str()));
    }
    void emitActionInvoked(std::uint32_t id, const std::string& action) {
        bus_.emit(kName, "ActionInvoked", g_variant_new("(us)", id, action.c_str()));
    }
    void emitNotificationClosed(std::uint32_t id, std::uint32_t reason) {
        bus_.emit(kName, "NotificationClosed", g_variant_new("(uu)", id, reason));
    }

    std::vector<Notification> notifications;
    int serverInformationCalls = 0;

private:
    static constexpr const char* kName = "org.freedesktop.Notifications";
    void called(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation);

    std::vector<std::string> capabilities_;
    bool owned_ = false;
    std::uint32_t nextId_ = 1;
    FakeBusService bus_;
};

}  // namespace orvan::testing
