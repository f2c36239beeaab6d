#pragma once

#include <memory>
#include <string>

#include "platform/WebView.h"
#include "platform/WebViewDelegate.h"

namespace orvan {

// How a new web view is set up. Every web view shares the one persistent website data store and
// plays media inline without a user gesture.
struct WebViewConfiguration {
    // Appended to the engine's standard user agent; the user agent ends exactly with it.
    std::string userAgentApplicationName;
};

class WebViewFactory {
public:
    virtual ~WebViewFactory() = default;
    virtual std::shared_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                                   std::weak_ptr<WebViewDelegate> delegate) = 0;
};

}  // namespace orvan
