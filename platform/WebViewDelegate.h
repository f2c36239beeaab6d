#pragma once

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
};

}  // namespace orvan
