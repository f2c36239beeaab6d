#pragma once

#include <cstdint>

namespace orvan {

// The number on the application's icon in the dock or task bar.
class ApplicationBadge {
public:
    virtual ~ApplicationBadge() = default;
    // 0 shows no badge.
    virtual void setBadgeCount(std::int64_t count) = 0;
};

}  // namespace orvan
