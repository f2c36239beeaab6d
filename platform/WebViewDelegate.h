#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Url.h"
#include "platform/ScriptMessage.h"

namespace orvan {

// Why a main-frame load failed, as far as the engine tells.
enum class LoadFailure {
    cancelled,           // stopped, or replaced by another navigation
    timedOut,            // no answer within the load's time-out
    networkUnreachable,  // no route to the network or the host
    hostNotFound,        // the name did not resolve
    connectionFailed,    // refused, reset or closed before an answer
    insecureConnection,  // the secure connection could not be set up (handshake, certificate)
    gatewayError,        // an answer refused through WebViewDelegate::acceptsMainFrameResponse
    other,
};

// What a web view reports back to the logic that owns it. Called on the main loop.
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // A navigation of the main frame finished loading.
    virtual void didFinishNavigation() = 0;
    // The page posted to one of the configured channels; `reply` answers it.
    virtual void didReceiveScriptMessage(const ScriptMessage& message, const ReplyOnce& reply) = 0;
    // Every navigation of any frame, and every new-window request: `decide(true)` allows it.
    // Called exactly once, possibly later.
    virtual void decidePolicyForNavigation(const std::optional<std::string>& url, std::function<void(bool)> decide) = 0;
    // A page asks for the camera or microphone; `requestingHost` is the most precise origin host the
    // engine gives: that of the document the main frame has committed.
    virtual void requestMediaCapturePermission(const std::optional<std::string>& requestingHost,
                                               std::function<void(bool)> decide) = 0;
    // A main-frame load failed, before or after it was committed. The delegate may show a page of
    // its own in its place (WebView::showErrorPage) before it returns; otherwise the engine's applies.
    // A navigation cancelled by a newer one the logic asked for (load, reload, error page) is not
    // reported: the next report is about that newer one.
    virtual void didFailNavigation(const std::optional<Url>& failingURL, LoadFailure failure) = 0;
    // The answer to a main-frame load, before its body is shown: false turns it into a failed load
    // (LoadFailure::gatewayError).
    virtual bool acceptsMainFrameResponse(const Url& url, int status, const std::string& mimeType) = 0;
};

}  // namespace orvan
