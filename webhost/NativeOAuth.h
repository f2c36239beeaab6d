#pragma once

#include <memory>
#include <string>

#include "platform/MainLoop.h"
#include "platform/WebAuthenticationSession.h"
#include "webhost/SignInRunner.h"

namespace orvan {

// External sign-in in a session of its own; the callback URL it ends on is then loaded in the
// application's web view, so the web application finishes the sign-in in its own session.
class NativeOAuth final : public SignInRunner {
public:
    static constexpr const char* kLoginErrorPath = "/auth/login?error=";
    static constexpr const char* kAuthFailed = "auth_failed";

    NativeOAuth(std::shared_ptr<WebAuthenticationSessions> sessions, MainLoop& mainLoop);

    void run(const Url& url, const std::string& callbackHost, const std::string& callbackPath,
             const std::shared_ptr<WebView>& webView, const Url& appURL,
             std::function<void(std::string)> done) override;

    static std::string normalizedCallbackHost(const std::string& host);
    static std::string normalizedCallbackPath(const std::string& path);
    // Sends the web view to the login error page of `appURL`.
    static void loadLoginError(WebView& webView, const Url& appURL);

    bool hasCurrentSession() const { return current_ != nullptr; }

private:
    std::shared_ptr<WebAuthenticationSessions> sessions_;
    MainLoop& mainLoop_;
    std::shared_ptr<WebAuthenticationSession> current_;
};

}  // namespace orvan
