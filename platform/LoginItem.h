#pragma once

#include <functional>
#include <string>

namespace orvan {

// Whether the application starts when the user logs in. Read from the system every time (or,
// where the system cannot be asked, what it granted last).
class LoginItem {
public:
    // Runs on the main loop when a change that the system decides later is refused, with the
    // system's description.
    using Failed = std::function<void(const std::string& description)>;
    virtual ~LoginItem() = default;
    virtual bool enabled() = 0;
    // Throws std::runtime_error carrying the system's description when the change fails at once.
    virtual void setEnabled(bool enabled, Failed failed) = 0;
};

}  // namespace orvan
