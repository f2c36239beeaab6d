#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/AppConfig.h"
#include "app/NotificationCenter.h"
#include "platform/Url.h"
#include "platform/MainLoop.h"
#include "platform/RemoteNotifications.h"
#include "platform/UserDefaults.h"
#include "platform/UserNotificationCenter.h"
#include "platform/WebView.h"

namespace orvan {

// Connects push notifications with the web application's backend (through the page, with its
// cookies) and routes opened notifications to the web views.
class PushNotifications {
public:
    static constexpr const char* kDeviceTokenKey = "apns.deviceToken.hex";
    static constexpr const char* kRegisteredTokenKey = "apns.registeredToken.hex";
    static constexpr const char* kRegisterPath = "/api/push/apns/register";
    static constexpr const char* kEnvironment = "production";
    // Runs in the page as the body of an async function with the arguments path, method and body.
    static const char* const kFetchWrapperScript;

    struct Dependencies {
        std::shared_ptr<NotificationCenter> center;
        std::shared_ptr<const AppConfig> config;
        std::shared_ptr<UserDefaults> defaults;
        std::shared_ptr<UserNotificationCenter> notifications;
        std::shared_ptr<RemoteNotifications> remote;
        MainLoop* mainLoop = nullptr;
        std::string bundleId;
    };

    // The outcome of one backend call.
    struct APIResult {
        bool ok = false;
        int status = 0;
        bool accepted = false;
        friend bool operator==(const APIResult&, const APIResult&) = default;
    };

    explicit PushNotifications(Dependencies dependencies);
    // Only the pending-URL part, for hosts that never register with a backend.
    explicit PushNotifications(std::shared_ptr<NotificationCenter> center);

    // An internal page to show as soon as a web view can load it.
    std::optional<Url> pendingOpenURL() const;
    void setPendingOpenURL(std::optional<Url> url);
    // Reads the pending URL and clears it, in one step.
    std::optional<Url> takePendingOpenURL();
    bool isRegistering() const { return registering_.load(); }

    void requestAuthorizationAndRegister();
    void didRegister(const std::vector<std::uint8_t>& deviceToken);
    void handleNotification(const nlohmann::json& userInfo);
    // Stores `url` as pending and asks the front window to load it.
    void openInternal(const Url& url);
    void syncRegistration(const std::shared_ptr<WebView>& webView);

    // Lower-case hexadecimal, two digits a byte.
    static std::string tokenText(const std::vector<std::uint8_t>& bytes);

    // Runs the fetch wrapper in the page (with its cookies) and reads the answer; any failure of the
    // script or the view counts as (false, 0, false).
    void callAPI(const std::string& path, const std::string& method, nlohmann::json body,
                 const std::weak_ptr<WebView>& webView, std::function<void(APIResult)> done);

private:
    void registerToken(const std::weak_ptr<WebView>& webView);
    void unregisterToken(const std::weak_ptr<WebView>& webView);
    void registerWithService();

    Dependencies deps_;
    mutable std::mutex mutex_;
    std::optional<Url> pendingOpenURL_;
    std::atomic<bool> registering_{false};
};

}  // namespace orvan
