#pragma once

#include "platform/RemoteNotifications.h"

namespace orvan {

// Linux desktops have no remote notification service for this application: registering succeeds
// quietly and no device token is ever handed over, so nothing is registered with the backend.
class LinuxRemoteNotifications final : public RemoteNotifications {
public:
    void registerForRemoteNotifications() override {}
};

}  // namespace orvan
