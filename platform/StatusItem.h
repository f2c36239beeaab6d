#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvan {

// One row of the tray menu.
struct StatusMenuEntry {
    enum class Kind { action, checkbox, separator };
    Kind kind = Kind::action;
    std::string title;
    // The keys of the shortcut shown beside the title, modifiers first ("Super", "Shift", "o");
    // empty: none.
    std::vector<std::string> shortcut;
    std::function<void()> action;
    bool checked = false;
    // A row that only says something (a state) cannot be chosen.
    bool enabled = true;

    static StatusMenuEntry item(std::string title, std::function<void()> action, std::vector<std::string> shortcut = {}) {
        StatusMenuEntry entry;
        entry.title = std::move(title);
        entry.action = std::move(action);
        entry.shortcut = std::move(shortcut);
        return entry;
    }
    static StatusMenuEntry checkbox(std::string title, std::function<void()> action) {
        StatusMenuEntry entry = item(std::move(title), std::move(action));
        entry.kind = Kind::checkbox;
        return entry;
    }
    static StatusMenuEntry separator() {
        StatusMenuEntry entry;
        entry.kind = Kind::separator;
        return entry;
    }
};

// What a tray item is made of.
struct StatusItemContent {
    // The icon: a folder and the image's name in it (without extension); none: no icon.
    std::optional<std::filesystem::path> imageFolder;
    std::string imageName;
    std::string toolTip;
    std::vector<StatusMenuEntry> menu;
    // The primary click. `activationToken` lets the desktop hand focus to us (may be empty).
    std::function<void(const std::string& activationToken)> onActivate;
    // The menu is about to open: the time to refresh check marks.
    std::function<void()> onMenuAboutToShow;
    // A panel that shows the item came (true) or went (false); told at once once it is known.
    std::function<void(bool shown)> onShownChanged;
};

// An item in the desktop's tray. It stays until destroyed.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    // The text beside the icon; empty: the bare icon.
    virtual void setTitle(const std::string& title) = 0;
    // The check mark of the menu row at `index` (a checkbox row).
    virtual void setChecked(std::size_t index, bool checked) = 0;
    // Rows shown above the menu's own (which keep their indexes); empty: none.
    virtual void setLeadingRows(std::vector<StatusMenuEntry> rows) = 0;
};

class StatusBar {
public:
    virtual ~StatusBar() = default;
    // Never null: without a tray host the item waits for one to appear.
    virtual std::unique_ptr<StatusItem> addItem(StatusItemContent content) = 0;
};

}  // namespace orvan
