#include "webhost/NativeOAuth.h"

#include "webhost/Coordinator.h"

namespace orvan {

NativeOAuth::NativeOAuth(std::shared_ptr<WebAuthenticationSessions> sessions, MainLoop& mainLoop)
    : sessions_(std::move(sessions)), mainLoop_(mainLoop) {}

std::string NativeOAuth::normalizedCallbackHost(const std::string& host) {
    constexpr const char* kWhite = " \t\n\r\v\f";
    const auto first = host.find_first_not_of(kWhite);
    if (first == std::string::npos) return {};
    const auto last = host.find_last_not_of(kWhite);
    return asciiLower(host.substr(first, last - first + 1));
}

std::string NativeOAuth::normalizedCallbackPath(const std::string& path) {
    return path.starts_with('/') ? path : "/" + path;
}

void NativeOAuth::loadLoginError(WebView& webView, const Url& appURL) {
    if (auto url = Url::parse(std::string(kLoginErrorPath) + kAuthFailed, appURL)) webView.load(*url, kRequestTimeout);
}

void NativeOAuth::run(const Url& url, const std::string& callbackHost, const std::string& callbackPath,
                      const std::shared_ptr<WebView>& webView, const Url& appURL,
                      std::function<void(std::string)> done) {
    if (current_) current_->cancel();  // its own completion answers its caller "cancelled"

    const std::weak_ptr<WebView> weakView = webView;
    // The completion may come on any thread and before `session` is known here: hop to the main
    // loop, and recognise this session through a shared holder.
    auto holder = std::make_shared<std::weak_ptr<WebAuthenticationSession>>();
    auto session = sessions_->create(
        url, normalizedCallbackHost(callbackHost), normalizedCallbackPath(callbackPath),
        [this, holder, weakView, appURL, done](WebAuthenticationResult result) {
            mainLoop_.post([this, holder, weakView, appURL, done, result] {
                // An older session finishing after a newer one started must not drop the newer one.
                if (current_ && current_ == holder->lock()) current_.reset();
                auto view = weakView.lock();
                if (result.errorCode == WebAuthenticationResult::kCancelledByUser) {
                    if (view) loadLoginError(*view, appURL);
                    done("cancelled");
                } else if (result.callbackURL && !result.errorCode) {
                    if (view) view->load(*result.callbackURL, kRequestTimeout);
                    done("ok");
                } else {
                    if (view) loadLoginError(*view, appURL);
                    done("error");
                }
            });
        });
    if (!session) {
        if (webView) loadLoginError(*webView, appURL);
        done("error");
        return;
    }
    *holder = session;
    current_ = session;
    if (!session->start()) {
        current_.reset();
        if (webView) loadLoginError(*webView, appURL);
        done("error");
    }
}

}  // namespace orvan
