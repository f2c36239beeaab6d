#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <webkit2/webkit2.h>

#include "platform/WebView.h"
#include "platform/WebViewDelegate.h"
#include "linux/glib/GObjectPtr.h"
#include "linux/webkit/PageBridgeMessages.h"

namespace orvan {

// The WebView port on a WebKitWebView. Owns a reference to the widget; the window owns the adapter.
class WebKitWebViewAdapter final : public WebView, public std::enable_shared_from_this<WebKitWebViewAdapter> {
public:
    // Answers the page's messages on `channels`, which the shell's web-process extension carries
    // from the top frame's relay, through the delegate.
    WebKitWebViewAdapter(WebKitWebView* view, std::weak_ptr<WebViewDelegate> delegate,
                         std::vector<std::string> channels = {});
    ~WebKitWebViewAdapter() override;
    WebKitWebViewAdapter(const WebKitWebViewAdapter&) = delete;
    WebKitWebViewAdapter& operator=(const WebKitWebViewAdapter&) = delete;

    WebKitWebView* view() const { return view_.get(); }
    GtkWidget* widget() const { return GTK_WIDGET(view_.get()); }

    void load(const Url& url, std::chrono::seconds timeout) override;
    void reload() override;
    void showErrorPage(const std::string& html, const Url& failedURL) override;
    void evaluateScript(const std::string& source) override;
    void callAsyncFunction(const std::string& body, const nlohmann::json& arguments,
                           std::function<void(ScriptResult)> completion) override;
    std::optional<Url> currentURL() const override;
    bool isInWindow() const override;
    bool isInKeyWindow() const override;

private:
    static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data);
    static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error,
                                 gpointer self);
    static gboolean onLoadTimeout(gpointer self);
    static gboolean onDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer self);
    gboolean decideResponse(WebViewDelegate& delegate, WebKitPolicyDecision* decision);
    static gboolean onPermissionRequest(WebKitWebView* view, WebKitPermissionRequest* request, gpointer self);
    static gboolean onUserMessage(WebKitWebView* view, WebKitUserMessage* message, gpointer self);
    void cancelTimeout();
    // Ends the time-out with the navigation it was set for.
    void followTimedLoad(WebKitLoadEvent event, const char* uri);
    GtkWindow* window() const;

    GObjectPtr<WebKitWebView> view_;
    std::weak_ptr<WebViewDelegate> delegate_;
    // The time-out of the last load asked for through load(), and the address the engine took that
    // load under; it ends with that navigation (committed, failed, refused or replaced).
    guint timeoutSource_ = 0;
    std::string timedURI_;
    bool timedLoadStarted_ = false;
    bool failed_ = false;
    // The address of the document the main frame last committed; empty for the shell's error page.
    std::string committedURI_;
    // The shell's error page: asked for (its document is the next one committed, unless another
    // navigation replaces it), and the main frame's document.
    bool errorPageRequested_ = false;
    bool errorPageCommitted_ = false;
    // Whether the delegate showed its error page for the failure being reported.
    bool errorPageShown_ = false;
    // A new load asked for and not started yet: the engine first ends the navigation it replaces,
    // whose cancellation is no one's business (it would end the new load's time-out, and tell its
    // owner of an end that is not its load's).
    bool replacing_ = false;
    // A load stopped by its time-out (its failure, the next one, comes as a cancellation under the
    // address it was redirected to), and one whose answer the delegate refused (a policy
    // interruption): their failures say so.
    bool timedOut_ = false;
    std::string refusedAnswerURI_;
    gulong loadChangedHandler_ = 0;
    gulong loadFailedHandler_ = 0;
    gulong policyHandler_ = 0;
    gulong permissionHandler_ = 0;
    gulong messageHandler_ = 0;
    std::vector<std::string> channels_;
};

}  // namespace orvan
