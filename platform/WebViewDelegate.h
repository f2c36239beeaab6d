#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Url.h"
#include "platform/ScriptMessage.h"

namespace orvan {

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
    // A load failed, before or after it was committed.
    virtual void didFailNavigation(const std::optional<Url>& failingURL) = 0;
};

}  // namespace orvan
