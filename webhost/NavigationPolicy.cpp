#include "webhost/NavigationPolicy.h"

#include <array>

#include "webhost/NativeOAuth.h"
#include "webhost/PageScripts.h"

namespace orvan {

namespace {
const std::array<const char*, 4> kExternalSchemes = {"https", "http", "mailto", "tel"};

// The scheme as the engine wrote it: "about" and the recording scheme are compared exactly.
std::string writtenScheme(const std::string& url) {
    const auto colon = url.find(':');
    return colon == std::string::npos ? std::string() : url.substr(0, colon);
}
}  // namespace

NavigationPolicy::NavigationPolicy(std::shared_ptr<const AppConfig> config, std::shared_ptr<UrlOpener> opener)
    : config_(std::move(config)), opener_(std::move(opener)) {}

void NavigationPolicy::decide(const std::optional<std::string>& text, std::function<void(bool)> decide) const {
    if (!text) {
        decide(true);
        return;
    }
    const std::string scheme = writtenScheme(*text);
    if (scheme == "about" || scheme == kRecordingScheme) {
        decide(true);
        return;
    }
    const auto url = Url::parse(*text);
    if (!url) {
        decide(false);
        return;
    }
    if (config_->staysInWebView(url->host())) {
        decide(true);
        return;
    }
    const std::string lowered = asciiLower(url->scheme());
    for (const char* external : kExternalSchemes) {
        if (lowered == external && opener_) {
            opener_->open(*url, [decide] { decide(false); });
            return;
        }
    }
    decide(false);
}

bool NavigationPolicy::allowsMediaCapture(const std::optional<std::string>& requestingHost, const Url& appURL) {
    const auto appHost = appURL.host();
    return appHost && requestingHost && *appHost == *requestingHost;
}

bool NavigationPolicy::recoverFromFailedNavigation(const std::shared_ptr<WebView>& webView,
                                                   const std::optional<Url>& failingURL, const Url& appURL,
                                                   MainLoop& mainLoop) {
    if (!webView) return false;
    const auto current = webView->currentURL();
    const std::string path = failingURL ? failingURL->path() : current ? current->path() : std::string();
    std::optional<std::string> host = failingURL ? failingURL->host() : std::nullopt;
    if (!host && current) host = current->host();
    const std::string loweredHost = host ? asciiLower(*host) : std::string();
    if (!path.starts_with("/auth/") && loweredHost.find("google") == std::string::npos) return false;

    const auto errorPage = Url::parse(std::string(NativeOAuth::kLoginErrorPath) + NativeOAuth::kAuthFailed, appURL);
    if (!errorPage) return false;
    const auto failed = failingURL ? failingURL : current;
    if (failed && failed->path() == errorPage->path() && failed->query() == errorPage->query() &&
        failed->host() == errorPage->host()) {
        return false;
    }
    mainLoop.post([weak = std::weak_ptr<WebView>(webView), appURL] {
        if (auto view = weak.lock()) NativeOAuth::loadLoginError(*view, appURL);
    });
    return true;
}

}  // namespace orvan
