#pragma once

#include <memory>

#include "platform/Url.h"
#include "platform/WebViewFactory.h"
#include "webhost/Coordinator.h"

namespace orvan {

// A window's content: one web view showing the web application, created once per window.
class OfficeWebView {
public:
    OfficeWebView(Url appURL, WebHostContext context);

    std::shared_ptr<Coordinator> makeCoordinator() const;
    // Creates and configures the web view, registers it and starts its first load: the pending
    // open URL when there is one (taken, so only one window shows it), else the app URL.
    std::shared_ptr<WebView> makeUIView(Coordinator& coordinator, WebViewFactory& factory) const;

private:
    Url appURL_;
    WebHostContext context_;
};

}  // namespace orvan
