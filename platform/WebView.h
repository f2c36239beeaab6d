#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "platform/Url.h"

namespace orvan {

// One web view, as the logic sees it.
class WebView {
public:
    virtual ~WebView() = default;
    // Loads `url`; gives up when the main resource has not answered within `timeout`.
    virtual void load(const Url& url, std::chrono::seconds timeout) = 0;
    virtual void reload() = 0;
    // Shows `html`, a page of the shell's own, in place of the failed load of `failedURL`: the view
    // keeps that address, the document has an opaque origin, no channel, page script or script of
    // the shell reaches it, and its load is not reported as a finished navigation.
    virtual void showErrorPage(const std::string& html, const Url& failedURL) = 0;
    // Fire and forget: results and errors are dropped.
    virtual void evaluateScript(const std::string& source) = 0;
    // Runs `body` as an async function in the page's world, main frame, with `arguments` (an object
    // whose values are strings, integers or such objects) as its named parameters. `completion` gets
    // the result as JSON, or the error message when the script throws or the view is gone.
    using ScriptResult = std::variant<nlohmann::json, std::string>;
    virtual void callAsyncFunction(const std::string& body, const nlohmann::json& arguments,
                                   std::function<void(ScriptResult)> completion) = 0;
    virtual std::optional<Url> currentURL() const = 0;
    // Placed in a window that is shown.
    virtual bool isInWindow() const = 0;
    // That window is the application's active (key) window.
    virtual bool isInKeyWindow() const = 0;
};

}  // namespace orvan
