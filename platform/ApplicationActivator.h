#pragma once

#include <string>

namespace orvan {

// Brings the application to the front: its active window, or a new one when none is open.
class ApplicationActivator {
public:
    virtual ~ApplicationActivator() = default;
    // `activationToken` (may be empty) lets the desktop allow the focus change.
    virtual void bringToFront(const std::string& activationToken) = 0;
};

}  // namespace orvan
