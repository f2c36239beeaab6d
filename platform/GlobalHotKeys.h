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
    // No global shortcut service on this desktop (no X display to grab on and no desktop portal):
    // the code a registration fails with.
    static constexpr int kUnavailable = -1;

    // `pressed` runs on the main loop, later than the key press itself, with the desktop's
    // activation token for the press (may be empty).
    using Pressed = std::function<void(const std::string& activationToken)>;
    // Runs on the main loop when a registration that was accepted for now is refused afterwards
    // (a desktop service that answers later), with the code it failed with.
    using Refused = std::function<void(int errorCode)>;
    virtual ~GlobalHotKeys() = default;
    // `keys`: modifiers first, then one key ("Super", "Shift", "o").
    virtual HotKeyRegistration registerHotKey(const std::vector<std::string>& keys, Pressed pressed,
                                              Refused refused) = 0;
};

}  // namespace orvan
