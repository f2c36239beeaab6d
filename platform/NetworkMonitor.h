#pragma once

#include <functional>
#include <memory>

namespace orvan {

// Stops the reports it was returned for when destroyed.
class NetworkSubscription {
public:
    virtual ~NetworkSubscription() = default;
};

// Whether the desktop has a network to reach servers through.
class NetworkMonitor {
public:
    virtual ~NetworkMonitor() = default;
    virtual bool isNetworkAvailable() const = 0;
    // `changed` gets the new availability, on the main loop, each time the desktop reports a change.
    virtual std::unique_ptr<NetworkSubscription> observe(std::function<void(bool available)> changed) = 0;
};

}  // namespace orvan
