#include "webhost/OfficeWebView.h"

#include <utility>

#include "webhost/PageScripts.h"

namespace orvan {

OfficeWebView::OfficeWebView(Url appURL, WebHostContext context)
    : appURL_(std::move(appURL)), context_(std::move(context)) {}

std::shared_ptr<Coordinator> OfficeWebView::makeCoordinator() const {
    return Coordinator::create(appURL_, context_);
}

std::shared_ptr<WebView> OfficeWebView::makeUIView(Coordinator& coordinator, WebViewFactory& factory) const {
    WebViewConfiguration configuration;
    configuration.userAgentApplicationName = kUserAgentApplicationName;
    configuration.messageWorld = kShellScriptWorld;
    configuration.messageChannels = {kRecorderChannel, kShellChannel};
    // The relay first, so the page's scripts find their port; then the bridge, then the shell script.
    const std::string appOrigin = origin(appURL_);
    configuration.userScripts = {
        {PageScripts::messageRelay(appOrigin), kShellScriptWorld},
        {PageScripts::mobileBridge(appOrigin), ""},
        {PageScripts::shellPage(appOrigin, context_.pagePollInterval), ""},
    };
    auto webView = factory.createWebView(configuration, coordinator.weak_from_this());
    coordinator.attach(webView);
    const auto pending = context_.push->takePendingOpenURL();
    coordinator.load(pending ? *pending : appURL_);
    return webView;
}

}  // namespace orvan
