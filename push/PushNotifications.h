#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "app/NotificationCenter.h"
#include "app/Url.h"

namespace orvan {

// Connects opened notifications (and other requests to show an internal page) with the web views.
class PushNotifications {
public:
    explicit PushNotifications(std::shared_ptr<NotificationCenter> center);

    // An internal page to show as soon as a web view can load it.
    std::optional<Url> pendingOpenURL() const;
    void setPendingOpenURL(std::optional<Url> url);
    // Reads the pending URL and clears it, in one step.
    std::optional<Url> takePendingOpenURL();

    // Stores `url` as pending and asks the front window to load it.
    void openInternal(const Url& url);

private:
    std::shared_ptr<NotificationCenter> center_;
    mutable std::mutex mutex_;
    std::optional<Url> pendingOpenURL_;
};

}  // namespace orvan
