#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Url.h"

namespace orvan {

// How a sign-in session ended: the callback URL it reached, or an error code.
struct WebAuthenticationResult {
    static constexpr int kCancelledByUser = 1;
    std::optional<Url> callbackURL;
    std::optional<int> errorCode;
};

// A sign-in page shown apart from the application's web view, ending when a navigation reaches
// https://<callbackHost><callbackPath>.
class WebAuthenticationSession {
public:
    virtual ~WebAuthenticationSession() = default;
    // Shows the session; false when it cannot be shown.
    virtual bool start() = 0;
    // Ends the session as if the user had cancelled it; the completion still follows.
    virtual void cancel() = 0;
};

class WebAuthenticationSessions {
public:
    virtual ~WebAuthenticationSessions() = default;
    // `completion` runs once, on any thread, when the session ends.
    virtual std::shared_ptr<WebAuthenticationSession> create(const Url& url, const std::string& callbackHost,
                                                             const std::string& callbackPath,
                                                             std::function<void(WebAuthenticationResult)> completion) = 0;
};

}  // namespace orvan
