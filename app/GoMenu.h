#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/NotificationCenter.h"

namespace orvan {

// The "移動" menu and the two view commands. Each posts a notification that the front window
// carries out; none touches a web view itself.
class GoMenu {
public:
    struct Item {
        std::string label;
        std::string path;
        std::optional<char> key;  // used with the primary modifier
    };

    struct ViewCommand {
        std::string title;
        char key;
    };

    static const std::vector<Item>& items();
    // A divider stands before these items.
    static bool startsGroup(std::size_t index) { return index == 4 || index == 7; }

    static constexpr const char* kMenuTitle = "移動";
    static constexpr const char* kSidebarScript = "window.dispatchEvent(new CustomEvent('toggle-sidebar-rail'))";
    static const ViewCommand& collapseSidebarCommand();
    static const ViewCommand& reloadCommand();

    explicit GoMenu(std::shared_ptr<NotificationCenter> center) : center_(std::move(center)) {}

    void open(std::size_t index) const;
    void collapseSidebar() const;
    void reload() const;

private:
    std::shared_ptr<NotificationCenter> center_;
};

}  // namespace orvan
