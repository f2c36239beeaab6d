#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "linux/glib/GObjectPtr.h"

namespace orvan::testing {

// A panel of our own on the session bus (its own connection, like a real one): it serves
// org.kde.StatusNotifierWatcher, records which items register, and talks to items as a host does.
// Calls are answered from the default main context, so tests iterate it.
class FakeStatusNotifierHost {
public:
    FakeStatusNotifierHost();
    ~FakeStatusNotifierHost();  // a panel that goes away: the connection closes
    FakeStatusNotifierHost(const FakeStatusNotifierHost&) = delete;
    FakeStatusNotifierHost& operator=(const FakeStatusNotifierHost&) = delete;

    // Calls `method` on `service` and iterates the main context until the answer; null on error.
    GVariant* call(const std::string& service, const char* path, const char* interface, const char* method,
                   GVariant* parameters);
    // A property of a registered item.
    GVariant* itemProperty(const std::string& service, const char* property);
    // Calls `handler` for every signal `member` of `interface` that anyone emits.
    void onSignal(const char* interface, const char* member, std::function<void(GVariant*)> handler);

    std::vector<std::string> registered;  // service names, in order

private:
    static void methodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);

    GObjectPtr<GDBusConnection> connection_;
    guint registration_ = 0;
    std::vector<guint> subscriptions_;
    std::vector<std::unique_ptr<std::function<void(GVariant*)>>> handlers_;
};

}  // namespace orvan::testing
