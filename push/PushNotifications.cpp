#include "push/PushNotifications.h"

#include <utility>

namespace orvan {

PushNotifications::PushNotifications(std::shared_ptr<NotificationCenter> center)
    : center_(std::move(center)) {}

std::optional<Url> PushNotifications::pendingOpenURL() const {
    std::lock_guard lock(mutex_);
    return pendingOpenURL_;
}

void PushNotifications::setPendingOpenURL(std::optional<Url> url) {
    std::lock_guard lock(mutex_);
    pendingOpenURL_ = std::move(url);
}

std::optional<Url> PushNotifications::takePendingOpenURL() {
    std::lock_guard lock(mutex_);
    return std::exchange(pendingOpenURL_, std::nullopt);
}

void PushNotifications::openInternal(const Url& url) {
    setPendingOpenURL(url);
    center_->post(notification_names::kOpenInternalURL, url);
}

}  // namespace orvan
