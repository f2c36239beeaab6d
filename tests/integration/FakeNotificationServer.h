#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "linux/glib/GObjectPtr.h"

namespace orvan::testing {

// A notification server of our own on the session bus (its own connection, like a real daemon):
// it records what it is sent and can play the user's part by emitting the server's signals.
// Method calls are answered from the default main context, so tests iterate it (runUntil).
class FakeNotificationServer {
public:
    // A hint as received: its GVariant type string and its value ("true"/"false" for booleans,
    // the text for strings, the printed form otherwise).
    struct Hint {
        std::string type;
        std::string value;
        bool operator==(const Hint&) const = default;
    };

    struct Notification {
        std::uint32_t id = 0;
        std::uint32_t replacesId = 0;
        std::string appIcon;
        std::string summary;
        std::string body;
        std::map<std::string, Hint> hints;
    };

    explicit FakeNotificationServer(std::vector<std::string> capabilities = {"actions", "body", "sound"});
    ~FakeNotificationServer();
    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    // Takes org.freedesktop.Notifications; false when someone else holds it.
    bool own();
    // Gives the name up again (the object stays, but nobody reaches it by name); true when it was
    // ours and is released now.
    bool release();

    void emitActivationToken(std::uint32_t id, const std::string& token);
    void emitActionInvoked(std::uint32_t id, const std::string& action);
    void emitNotificationClosed(std::uint32_t id, std::uint32_t reason);

    std::vector<Notification> notifications;
    int serverInformationCalls = 0;

private:
    static void methodCall(GDBusConnection* connection, const gchar* sender, const gchar* path,
                           const gchar* interface, const gchar* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);
    void emit(const char* signal, GVariant* parameters);

    std::vector<std::string> capabilities_;
    GObjectPtr<GDBusConnection> connection_;
    guint registration_ = 0;
    bool owned_ = false;
    std::uint32_t nextId_ = 1;
};

}  // namespace orvan::testing
