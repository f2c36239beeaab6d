#pragma once

namespace orvan {

// Whether the application starts when the user logs in. Read from the system every time.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool enabled() = 0;
    // Throws std::runtime_error carrying the system's description when the change fails.
    virtual void setEnabled(bool enabled) = 0;
};

}  // namespace orvan
