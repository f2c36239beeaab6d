#pragma once

#include "platform/NetworkMonitor.h"

namespace orvan {

// The desktop's network monitor (GIO's default: NetworkManager's, the portal's in a sandbox, else
// the kernel's routes), read on the default main context.
class GioNetworkMonitor final : public NetworkMonitor {
public:
    bool isNetworkAvailable() const override;
    std::unique_ptr<NetworkSubscription> observe(std::function<void(bool available)> changed) override;
};

}  // namespace orvan
