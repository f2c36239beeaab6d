#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/WebView.h"
#include "platform/WebViewDelegate.h"

namespace orvan {

// A script injected at document start into top-frame documents only.
struct UserScript {
    std::string source;
    // Empty: the page's own world; otherwise a named isolated world.
    std::string world;
};

// How a new web view is set up. Every web view shares the one persistent website data store and
// plays media inline without a user gesture.
struct WebViewConfiguration {
    // Appended to the engine's standard user agent; the user agent ends exactly with it.
    std::string userAgentApplicationName;
    // Channels answered through WebViewDelegate::didReceiveScriptMessage, reachable only from
    // scripts of `messageWorld`.
    std::vector<std::string> messageChannels;
    std::string messageWorld;
    // In injection order.
    std::vector<UserScript> userScripts;
};

class WebViewFactory {
public:
    virtual ~WebViewFactory() = default;
    virtual std::shared_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                                   std::weak_ptr<WebViewDelegate> delegate) = 0;
};

}  // namespace orvan
