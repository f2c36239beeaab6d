#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/AppConfig.h"
#include "platform/MainLoop.h"
#include "platform/UrlOpener.h"
#include "platform/WebView.h"

namespace orvan {

// What the web view may show: the web application and the few sign-in pages it needs. Every other
// http(s), mail or phone link goes to the desktop's handler; anything else is refused.
class NavigationPolicy {
public:
    NavigationPolicy(std::shared_ptr<const AppConfig> config, std::shared_ptr<UrlOpener> opener);

    // Answers `decide` exactly once: true to allow. An outside link is handed to the desktop first
    // and cancelled once the open call has finished.
    void decide(const std::optional<std::string>& url, std::function<void(bool)> decide) const;

    // Camera and microphone only for the app URL's own host, compared exactly.
    static bool allowsMediaCapture(const std::optional<std::string>& requestingHost, const Url& appURL);

    // After a failed load: a sign-in address ("/auth/" path, or a host containing "google") sends the
    // web view to the login error page. The page's own failure does not, so an unreachable backend
    // cannot make it reload for ever. True when it sends the view there.
    static bool recoverFromFailedNavigation(const std::shared_ptr<WebView>& webView,
                                            const std::optional<Url>& failingURL, const Url& appURL,
                                            MainLoop& mainLoop);

private:
    std::shared_ptr<const AppConfig> config_;
    std::shared_ptr<UrlOpener> opener_;
};

}  // namespace orvan
