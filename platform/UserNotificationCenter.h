#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvan {

// A button of a notification.
struct NotificationAction {
    std::string identifier;
    std::string title;
};

// A notification shown at once.
struct NotificationRequest {
    // A later request with the same identifier replaces the earlier notification.
    std::string identifier;
    std::string title;
    std::optional<std::string> body;
    bool sound = true;
    // Handed back when the user opens the notification.
    nlohmann::json userInfo = nlohmann::json::object();
    // Buttons, in order, where the desktop shows them.
    std::vector<NotificationAction> actions{};
};

enum class NotificationAuthorization { notDetermined, denied, authorized };

// The user opened a notification: its user info, and the token that lets the application come to
// the front (empty when the server gave none).
struct NotificationResponse {
    nlohmann::json userInfo;
    std::string activationToken;
    // The button pressed; empty when the notification itself was opened.
    std::string actionIdentifier{};
};

// The desktop's notification service. Callbacks arrive on the main loop.
class UserNotificationCenter {
public:
    virtual ~UserNotificationCenter() = default;
    // Delivers now; the outcome is not reported.
    virtual void add(const NotificationRequest& request) = 0;
    // Takes the notification of that identifier away, if it is still shown.
    virtual void remove(const std::string& identifier) = 0;
    // The current authorization, without asking the user.
    virtual void authorization(std::function<void(NotificationAuthorization)> completion) = 0;
    // Asks for authorization where the desktop asks at all; reports whether it was granted.
    virtual void requestAuthorization(std::function<void(bool granted)> completion) = 0;
    // Called for every notification the user opens.
    virtual void setResponseHandler(std::function<void(const NotificationResponse&)> handler) = 0;
};

}  // namespace orvan
