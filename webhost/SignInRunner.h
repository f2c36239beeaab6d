#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Url.h"
#include "platform/WebView.h"

namespace orvan {

// Runs an external sign-in and reports "ok", "cancelled" or "error".
class SignInRunner {
public:
    virtual ~SignInRunner() = default;
    virtual void run(const Url& url, const std::string& callbackHost, const std::string& callbackPath,
                     const std::shared_ptr<WebView>& webView, const Url& appURL,
                     std::function<void(std::string)> done) = 0;
};

}  // namespace orvan
