#pragma once

#include <functional>
#include <memory>

#include "platform/NetworkMonitor.h"

namespace orvan::testing {

// A network the test switches; it reports to the last observer.
struct FakeNetworkMonitor final : NetworkMonitor {
    bool isNetworkAvailable() const override { return available; }
    std::unique_ptr<NetworkSubscription> observe(std::function<void(bool)> changed) override {
        report = std::move(changed);
        return std::make_unique<NetworkSubscription>();
    }
    void set(bool now) { report(available = now); }

    bool available = true;
    std::function<void(bool)> report;
};

}  // namespace orvan::testing
