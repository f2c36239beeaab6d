#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/FakeBusService.h"

namespace orvan::testing {

// A panel of our own on the session bus: it serves org.kde.StatusNotifierWatcher, records which
// items register, and talks to items as a host does.
class FakeStatusNotifierHost {
public:
    FakeStatusNotifierHost();
    ~FakeStatusNotifierHost();

    // Calls `method` on `service` and iterates the main context until the answer; null on error.
    GVariant* call(const std::string& service, const char* path, const char* interface, const char* method,
                   GVariant* parameters);
    // A property of a registered item.
    GVariant* itemProperty(const std::string& service, const char* property);
    // Calls `handler` for every signal `member` of `interface` that anyone emits.
    void onSignal(const char* interface, const char* member, std::function<void(GVariant*)> handler);

    std::vector<std::string> registered;  // service names, in order

private:
    FakeBusService bus_;
    std::vector<guint> subscriptions_;
    std::vector<std::unique_ptr<std::function<void(GVariant*)>>> handlers_;
};

}  // namespace orvan::testing
