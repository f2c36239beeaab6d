#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainTimers.h"
#include "platform/NetworkMonitor.h"
#include "platform/Url.h"
#include "platform/WebView.h"
#include "platform/WebViewDelegate.h"
#include "webhost/UnreachablePage.h"

namespace orvan {

// One window's way back from a web application it cannot reach. When a load of the app's origin
// fails for a reason the user cannot fix from the page, the window shows the shell's own page in
// its place, keeping the failed address, and tries that address again by itself: at once when the
// network comes back, else after waits growing from 5 s to 60 s, never with more than one attempt
// on its way. The first page that loads ends it.
class ConnectionRecovery {
public:
    static constexpr std::chrono::milliseconds kFirstWait{5000};
    static constexpr std::chrono::milliseconds kLongestWait{60000};

    // Without `timers` or `network`, retries come only from the user (reload) or the network.
    ConnectionRecovery(Url appURL, std::chrono::seconds loadTimeout, std::shared_ptr<MainTimers> timers,
                       std::shared_ptr<NetworkMonitor> network);
    ConnectionRecovery(const ConnectionRecovery&) = delete;
    ConnectionRecovery& operator=(const ConnectionRecovery&) = delete;

    void attach(std::weak_ptr<WebView> webView) { webView_ = std::move(webView); }
    // The shell's page stands in for the app (from the failure until a page loads).
    bool isShowing() const { return failed_.has_value(); }

    // A main-frame load failed; `handledElsewhere`: the sign-in recovery has taken it over.
    void loadFailed(const std::optional<Url>& url, LoadFailure failure, bool handledElsewhere);
    // A page loaded (never the shell's own): nothing more to recover.
    void pageLoaded();
    // While the page shows, `url` becomes the address to reach, and is tried now.
    void navigate(const Url& url);
    // Tries the failed address now, unless an attempt is already on its way (the button, a reload).
    void retryNow();
    // Whether the engine's navigation to `url` is a load of the failed address that this recovery
    // did not start (the page's button): the caller cancels it and calls retryNow() instead.
    bool takesOverNavigation(const std::string& url);

    // Whether an answer to a main-frame load is a gateway's rather than a page of the app: a 502 or
    // 504 of the app's origin always (the app itself was not reached), a 503 unless it is HTML (the
    // app's own maintenance page).
    bool isGatewayAnswer(const Url& url, int status, const std::string& mimeType) const;

private:
    std::optional<UnreachablePage::Reason> reasonFor(const Url& url, LoadFailure failure) const;
    void start(const Url& url);
    void scheduleRetry();
    void stop();
    void networkChanged(bool available);

    Url appURL_;
    std::chrono::seconds loadTimeout_;
    std::shared_ptr<MainTimers> timers_;
    std::shared_ptr<NetworkMonitor> network_;
    std::weak_ptr<WebView> webView_;
    // The address the page stands in for; set while it shows.
    std::optional<Url> failed_;
    // An attempt (a load of `failed_`) on its way, and whether the engine has yet to ask about its
    // navigation.
    bool attempting_ = false;
    bool awaitingOwnDecision_ = false;
    std::chrono::milliseconds nextWait_ = kFirstWait;
    std::unique_ptr<MainTimer> retryTimer_;
    std::unique_ptr<NetworkSubscription> networkWatch_;
    bool networkAvailable_ = true;
};

}  // namespace orvan
