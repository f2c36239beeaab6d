#pragma once

#include <memory>

namespace orvan {

// Keeps the application running while no window is open: a recording in progress, or later the
// tray companion. Without a hold the application ends when its last window closes.
class ApplicationHolds {
public:
    // One hold lasts until the last copy of it is dropped, on the main loop.
    using Hold = std::shared_ptr<void>;

    virtual ~ApplicationHolds() = default;
    virtual Hold hold() = 0;
};

}  // namespace orvan
