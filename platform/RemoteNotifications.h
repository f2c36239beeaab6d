#pragma once

namespace orvan {

// Registration with a remote (push) notification service. When the service hands over a device
// token, the application delegate receives it.
class RemoteNotifications {
public:
    virtual ~RemoteNotifications() = default;
    virtual void registerForRemoteNotifications() = 0;
};

}  // namespace orvan
