#include "app/OfficeAppDelegate.h"

#include <utility>

namespace orvan {

OfficeAppDelegate::OfficeAppDelegate(Dependencies dependencies) : deps_(std::move(dependencies)) {}

bool OfficeAppDelegate::didFinishLaunching(const std::optional<nlohmann::json>& remoteNotification) {
    deps_.notifications->setResponseHandler(
        [this](const NotificationResponse& response) { didReceiveNotificationResponse(response); });
    deps_.mainLoop->post([this, remoteNotification] {
        // The tray companion and the notification server's answer are not needed for the page.
        auto services = [this] {
            deps_.macShell->loadPlugin();
            deps_.push->requestAuthorizationAndRegister();
        };
        if (deps_.afterFirstPage) deps_.afterFirstPage(std::move(services));
        else services();
        if (remoteNotification && remoteNotification->is_object() && !remoteNotification->empty()) {
            deps_.push->handleNotification(*remoteNotification);
        }
    });
    return true;
}

void OfficeAppDelegate::didRegisterForRemoteNotifications(const std::vector<std::uint8_t>& deviceToken) {
    deps_.mainLoop->post([this, deviceToken] { deps_.push->didRegister(deviceToken); });
}

void OfficeAppDelegate::didReceiveNotificationResponse(const NotificationResponse& response) {
    deps_.mainLoop->post([this, response] {
        // The page is chosen first, so a window opened to come forward shows it.
        deps_.push->handleNotification(response.userInfo);
        if (deps_.activator) deps_.activator->bringToFront(response.activationToken);
    });
}

}  // namespace orvan
