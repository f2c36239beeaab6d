#include "webhost/OfficeWebView.h"

#include <utility>

namespace orvan {

OfficeWebView::OfficeWebView(Url appURL, WebHostContext context)
    : appURL_(std::move(appURL)), context_(std::move(context)) {}

std::shared_ptr<Coordinator> OfficeWebView::makeCoordinator() const {
    return Coordinator::create(appURL_, context_);
}

std::shared_ptr<WebView> OfficeWebView::makeUIView(Coordinator& coordinator, WebViewFactory& factory) const {
    WebViewConfiguration configuration;
    configuration.userAgentApplicationName = kUserAgentApplicationName;
    auto webView = factory.createWebView(configuration, coordinator.weak_from_this());
    coordinator.attach(webView);
    const auto pending = context_.push->takePendingOpenURL();
    coordinator.load(pending ? *pending : appURL_);
    return webView;
}

}  // namespace orvan
