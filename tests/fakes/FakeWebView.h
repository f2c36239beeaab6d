#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/WebView.h"
#include "platform/WebViewFactory.h"

namespace orvan::testing {

// Records what the logic asked of it; window placement is set by the test.
class FakeWebView final : public WebView {
public:
    struct Load {
        std::string url;
        std::chrono::seconds timeout;
    };

    void load(const Url& url, std::chrono::seconds timeout) override {
        loads.push_back({url.string(), timeout});
        current = url;
    }
    void reload() override { ++reloads; }
    void showErrorPage(const std::string& html, const Url& failedURL) override {
        errorPages.push_back(html);
        current = failedURL;
    }
    void evaluateScript(const std::string& source) override { scripts.push_back(source); }
    void callAsyncFunction(const std::string&, const nlohmann::json& arguments,
                           std::function<void(ScriptResult)> completion) override {
        calls.push_back({arguments, std::move(completion)});
    }
    std::optional<Url> currentURL() const override { return current; }
    bool isInWindow() const override { return inWindow; }
    bool isInKeyWindow() const override { return inWindow && key; }

    struct AsyncCall {
        nlohmann::json arguments;
        std::function<void(ScriptResult)> completion;
    };

    std::vector<Load> loads;
    // Script calls wait here until the test completes them.
    std::vector<AsyncCall> calls;
    int reloads = 0;
    std::vector<std::string> errorPages;
    std::vector<std::string> scripts;
    std::optional<Url> current;
    bool inWindow = true;
    bool key = false;
};

class FakeWebViewFactory final : public WebViewFactory {
public:
    std::shared_ptr<WebView> createWebView(const WebViewConfiguration&, std::weak_ptr<WebViewDelegate> delegate) override {
        lastDelegate = std::move(delegate);
        auto view = std::make_shared<FakeWebView>();
        created.push_back(view);
        return view;
    }

    std::weak_ptr<WebViewDelegate> lastDelegate;
    std::vector<std::shared_ptr<FakeWebView>> created;
};

}  // namespace orvan::testing
