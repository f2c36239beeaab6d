#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvan {

// A key combination grabbed for the whole desktop; released when destroyed.
class GlobalHotKey {
public:
    virtual ~GlobalHotKey() = default;
};

struct HotKeyRegistration {
    std::unique_ptr<GlobalHotKey> key;  // null: not registered
    int errorCode = 0;                  // why not: the system's code
};

class GlobalHotKeys {
public:
    // No global shortcut service on this desktop (a Wayland session without the portal's
    // GlobalShortcuts): the code a registration fails with.
    static constexpr int kUnavailable = -1;

    // `pressed` runs on the main loop, later than the key press itself, with the desktop's
    // activation token for the press (may be empty).
    using Pressed = std::function<void(const std::string& activationToken)>;
    virtual ~GlobalHotKeys() = default;
    // `keys`: modifiers first, then one key ("Super", "Shift", "o").
    virtual HotKeyRegistration registerHotKey(const std::vector<std::string>& keys, Pressed pressed) = 0;
};

}  // namespace orvan
