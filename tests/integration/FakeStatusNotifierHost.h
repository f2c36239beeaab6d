#pragma once

#include <gio/gio.h>

#include <cstdint>
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

    // An item's menu as a panel opens it: the rows of its top level, each with its label (or "---"
    // for a separator) and check state (-1 without one).
    struct MenuRow {
        std::int32_t id;
        std::string text;
        std::int32_t checked = -1;
    };
    std::vector<MenuRow> menu(const std::string& service);
    // A click on a row, and a left click on the item itself; false when the item did not answer.
    bool click(const std::string& service, std::int32_t row);
    bool activate(const std::string& service);
    // Tells everyone the item is gone from the panel, as a panel that drops it does.
    void drop(const std::string& service);

    std::vector<std::string> registered;  // service names, in order

private:
    FakeBusService bus_;
    std::vector<guint> subscriptions_;
    std::vector<std::unique_ptr<std::function<void(GVariant*)>>> handlers_;
};

}  // namespace orvan::testing
