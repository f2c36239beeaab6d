#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "macshell/MacShell.h"
#include "platform/ApplicationActivator.h"
#include "platform/MainLoop.h"
#include "platform/UserNotificationCenter.h"
#include "push/PushNotifications.h"

namespace orvan {

// Starts the long-lived services at launch and routes device tokens and opened notifications.
class OfficeAppDelegate {
public:
    struct Dependencies {
        MainLoop* mainLoop = nullptr;
        std::shared_ptr<UserNotificationCenter> notifications;
        std::shared_ptr<MacShell> macShell;
        std::shared_ptr<PushNotifications> push;
        std::shared_ptr<ApplicationActivator> activator;
        // Runs work that can wait until the first window has shown its page, so that it does not
        // compete with it; without it that work runs in the launch task.
        std::function<void(std::function<void()>)> afterFirstPage;
    };

    explicit OfficeAppDelegate(Dependencies dependencies);

    // Becomes the notification centre's delegate before it returns, then schedules the launch task:
    // the payload of the notification that launched the app, then (once the first page is shown)
    // the plug-in and push registration.
    bool didFinishLaunching(const std::optional<nlohmann::json>& remoteNotification = std::nullopt);
    void didRegisterForRemoteNotifications(const std::vector<std::uint8_t>& deviceToken);
    void didReceiveNotificationResponse(const NotificationResponse& response);

private:
    Dependencies deps_;
};

}  // namespace orvan
