#include "push/PushNotifications.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace orvan {

const char* const PushNotifications::kFetchWrapperScript = R"JS(
const res = await fetch(path, {
  method,
  credentials: 'include',
  headers: { 'Content-Type': 'application/json' },
  body: JSON.stringify(body),
});
const text = await res.text();
let json = null;
if (text) {
  try { json = JSON.parse(text); } catch (_) { json = null; }
}
return { ok: res.ok, status: res.status, json };
)JS";

PushNotifications::PushNotifications(Dependencies dependencies) : deps_(std::move(dependencies)) {}

PushNotifications::PushNotifications(std::shared_ptr<NotificationCenter> center) {
    deps_.center = std::move(center);
}

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

std::string PushNotifications::tokenText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(byte));
        text += digits;
    }
    return text;
}

void PushNotifications::requestAuthorizationAndRegister() {
    if (!deps_.notifications) return;
    deps_.notifications->authorization([this](NotificationAuthorization status) {
        switch (status) {
        case NotificationAuthorization::authorized:
            registerWithService();
            return;
        case NotificationAuthorization::notDetermined:
            deps_.notifications->requestAuthorization([this](bool granted) {
                if (granted) registerWithService();
            });
            return;
        case NotificationAuthorization::denied:
            return;
        }
    });
}

void PushNotifications::registerWithService() {
    // Always from the main loop, whatever thread the authorization answer came on.
    deps_.mainLoop->post([remote = deps_.remote] {
        if (remote) remote->registerForRemoteNotifications();
    });
}

void PushNotifications::didRegister(const std::vector<std::uint8_t>& deviceToken) {
    if (!deps_.defaults) return;
    const std::string token = tokenText(deviceToken);
    deps_.defaults->setString(kDeviceTokenKey, token);
    // A new token is not registered yet; the old one is not unregistered at the backend.
    if (deps_.defaults->string(kRegisteredTokenKey) != token) deps_.defaults->remove(kRegisteredTokenKey);
    deps_.center->post(notification_names::kAPNsTokenReady);
}

void PushNotifications::handleNotification(const nlohmann::json& userInfo) {
    if (!userInfo.is_object() || !deps_.config) return;
    const auto found = userInfo.find("url");
    if (found == userInfo.end() || !found->is_string()) return;
    if (auto url = deps_.config->internalURL(found->get<std::string>())) openInternal(*url);
}

void PushNotifications::openInternal(const Url& url) {
    setPendingOpenURL(url);
    deps_.center->post(notification_names::kOpenInternalURL, url);
}

void PushNotifications::syncRegistration(const std::shared_ptr<WebView>& webView) {
    if (!webView || !deps_.defaults) return;
    const auto url = webView->currentURL();
    if (!url) return;
    const auto host = url->host();
    if (!host || !AppConfig::trustedHosts().contains(asciiLower(*host))) return;
    // Signing out shows the sign-in page: the device must stop receiving that user's pushes.
    const bool signInPage = url->path().starts_with("/auth/login");
    const std::weak_ptr<WebView> weak = webView;
    deps_.mainLoop->post([this, weak, signInPage] {
        if (signInPage) unregisterToken(weak);
        else registerToken(weak);
    });
}

void PushNotifications::registerToken(const std::weak_ptr<WebView>& webView) {
    const auto token = deps_.defaults->string(kDeviceTokenKey);
    if (!token || token->empty()) return;
    if (deps_.defaults->string(kRegisteredTokenKey) == token) return;
    bool expected = false;
    if (!registering_.compare_exchange_strong(expected, true)) return;
    const nlohmann::json body = {{"deviceToken", *token}, {"environment", kEnvironment}, {"bundleId", deps_.bundleId}};
    callAPI(kRegisterPath, "POST", body, webView, [this, token = *token](APIResult result) {
        if (result.status != 401 && result.ok && result.accepted) deps_.defaults->setString(kRegisteredTokenKey, token);
        registering_.store(false);
    });
}

void PushNotifications::unregisterToken(const std::weak_ptr<WebView>& webView) {
    const auto registered = deps_.defaults->string(kRegisteredTokenKey);
    if (!registered || registered->empty()) return;
    callAPI(kRegisterPath, "DELETE", {{"deviceToken", *registered}}, webView, [this](APIResult result) {
        if (result.ok || result.status == 401) deps_.defaults->remove(kRegisteredTokenKey);
    });
}

void PushNotifications::callAPI(const std::string& path, const std::string& method, nlohmann::json body,
                                const std::weak_ptr<WebView>& webView, std::function<void(APIResult)> done) {
    auto view = webView.lock();
    if (!view) {
        done({});
        return;
    }
    const nlohmann::json arguments = {{"path", path}, {"method", method}, {"body", std::move(body)}};
    view->callAsyncFunction(kFetchWrapperScript, arguments, [method, done = std::move(done)](WebView::ScriptResult outcome) {
        const auto* result = std::get_if<nlohmann::json>(&outcome);
        if (result == nullptr || !result->is_object()) {
            done({});
            return;
        }
        APIResult api;
        const auto status = result->find("status");
        if (status != result->end() && status->is_number_integer()) {
            api.status = status->get<int>();
        } else if (status != result->end() && status->is_number_float()) {
            api.status = static_cast<int>(std::trunc(status->get<double>()));
        }
        const auto ok = result->find("ok");
        api.ok = ok != result->end() && ok->is_boolean() && ok->get<bool>();
        if (method == "DELETE") {
            api.accepted = api.ok;
        } else {
            const auto json = result->find("json");
            if (json != result->end() && json->is_object()) {
                const auto accepted = json->find("ok");
                api.accepted = accepted != json->end() && accepted->is_boolean() && accepted->get<bool>();
            }
        }
        done(api);
    });
}

}  // namespace orvan
