#pragma once

#include <functional>
#include <memory>

#include "platform/NetworkMonitor.h"

namespace orvan::testing {

// A network the test switches on and off.
class FakeNetworkMonitor final : public NetworkMonitor {
public:
    bool isNetworkAvailable() const override { return available; }
    std::unique_ptr<NetworkSubscription> observe(std::function<void(bool)> changed) override {
        struct Held final : NetworkSubscription {
            std::shared_ptr<std::function<void(bool)>> report;
        };
        auto held = std::make_unique<Held>();
        held->report = std::make_shared<std::function<void(bool)>>(std::move(changed));
        observer = held->report;
        return held;
    }
    void set(bool now) {
        available = now;
        if (auto report = observer.lock()) (*report)(now);
    }

    bool available = true;
    std::weak_ptr<std::function<void(bool)>> observer;
};

}  // namespace orvan::testing
