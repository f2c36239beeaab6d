#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "app/NotificationCenter.h"
#include "platform/Url.h"
#include "platform/MainLoop.h"
#include "platform/MainTimers.h"
#include "platform/NetworkMonitor.h"
#include "platform/WebView.h"
#include "platform/WebViewDelegate.h"
#include "push/PushNotifications.h"
#include "webhost/CommandDispatcher.h"
#include "webhost/ConnectionRecovery.h"
#include "webhost/CoordinatorRegistry.h"
#include "webhost/NavigationPolicy.h"

namespace orvan {

// Every load the shell makes itself gives up after this long without an answer.
inline constexpr std::chrono::seconds kRequestTimeout{60};
inline constexpr const char* kUserAgentApplicationName = "Version/18.0 Safari/605.1.15 OrvanOfficeMac";
inline constexpr const char* kFrontOnlyKey = "frontOnly";
inline constexpr std::chrono::milliseconds kPagePollInterval{60000};

// What every coordinator shares with the rest of the application.
struct WebHostContext {
    std::shared_ptr<NotificationCenter> center;
    std::shared_ptr<CoordinatorRegistry> registry;
    std::shared_ptr<PushNotifications> push;
    MainLoop* mainLoop = nullptr;
    // Answers the page's commands; none: every command is refused.
    std::shared_ptr<CommandDispatcher> dispatcher;
    // Navigation decisions; none: every navigation is allowed.
    std::shared_ptr<NavigationPolicy> navigationPolicy;
    // Push registration's hook, run after each finished navigation and on a new device token.
    std::function<void(const std::shared_ptr<WebView>&)> syncRegistration;
    // How often the page asks for the badge counts and the deployment id.
    std::chrono::milliseconds pagePollInterval = kPagePollInterval;
    // When the app cannot be reached, a window retries on these; without them only on a reload.
    std::shared_ptr<MainTimers> timers;
    std::shared_ptr<NetworkMonitor> network;
};

// One per window: the web view's delegate and the receiver of the in-process notifications that
// drive the page.
class Coordinator : public WebViewDelegate, public std::enable_shared_from_this<Coordinator> {
public:
    static std::shared_ptr<Coordinator> create(Url appURL, WebHostContext context);
    ~Coordinator() override = default;

    const Url& appURL() const { return appURL_; }
    std::shared_ptr<WebView> webView() const { return webView_.lock(); }

    // Called once the web view exists: remembers it and enters the registry.
    void attach(const std::shared_ptr<WebView>& webView);
    void load(const Url& url);
    // Whether this coordinator's window is the one window-targeted notifications address.
    bool isFrontCoordinator() const;

    void didFinishNavigation() override;
    void didReceiveScriptMessage(const ScriptMessage& message, const ReplyOnce& reply) override;
    void decidePolicyForNavigation(const std::optional<std::string>& url, std::function<void(bool)> decide) override;
    void requestMediaCapturePermission(const std::optional<std::string>& requestingHost,
                                       std::function<void(bool)> decide) override;
    void didFailNavigation(const std::optional<Url>& failingURL, LoadFailure failure) override;
    bool acceptsMainFrameResponse(const Url& url, int status, const std::string& mimeType) override;

private:
    Coordinator(Url appURL, WebHostContext context);
    void registerObservers();

    void handleOpenInternalURL(const Notification& notification);
    void handleReload();
    void handleEvaluate(const Notification& notification);
    void handleOpenPath(const Notification& notification);
    void handleTokenReady();

    Url appURL_;
    WebHostContext context_;
    std::weak_ptr<WebView> webView_;
    ConnectionRecovery recovery_;
    ObserverToken openURLObserver_;
    ObserverToken tokenObserver_;
    ObserverToken reloadObserver_;
    ObserverToken evaluateObserver_;
    ObserverToken openPathObserver_;
};

// The character rules an officeOpenPath path must pass before it is loaded.
bool isAcceptableOpenPath(const std::string& path);

}  // namespace orvan
