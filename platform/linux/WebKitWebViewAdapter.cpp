#include "platform/linux/WebKitWebViewAdapter.h"

namespace orvan {

WebKitWebViewAdapter::WebKitWebViewAdapter(WebKitWebView* view, std::weak_ptr<WebViewDelegate> delegate)
    : view_(GObjectPtr<WebKitWebView>::retain(view)), delegate_(std::move(delegate)) {
    loadChangedHandler_ = g_signal_connect(view, "load-changed", G_CALLBACK(&onLoadChanged), this);
    loadFailedHandler_ = g_signal_connect(view, "load-failed", G_CALLBACK(&onLoadFailed), this);
}

WebKitWebViewAdapter::~WebKitWebViewAdapter() {
    cancelTimeout();
    g_signal_handler_disconnect(view_.get(), loadChangedHandler_);
    g_signal_handler_disconnect(view_.get(), loadFailedHandler_);
}

void WebKitWebViewAdapter::load(const Url& url, std::chrono::seconds timeout) {
    cancelTimeout();
    // WebKitGTK has no request time-out of its own: stop the load when the main resource has not
    // answered in time, which reports the load as failed like any other.
    timeoutSource_ = g_timeout_add_seconds(static_cast<guint>(timeout.count()), &onLoadTimeout, this);
    webkit_web_view_load_uri(view_.get(), url.string().c_str());
}

void WebKitWebViewAdapter::reload() { webkit_web_view_reload(view_.get()); }

void WebKitWebViewAdapter::evaluateScript(const std::string& source) {
    webkit_web_view_evaluate_javascript(view_.get(), source.c_str(), static_cast<gssize>(source.size()),
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
}

std::optional<Url> WebKitWebViewAdapter::currentURL() const {
    const char* uri = webkit_web_view_get_uri(view_.get());
    if (uri == nullptr) return std::nullopt;
    return Url::parse(uri);
}

GtkWindow* WebKitWebViewAdapter::window() const {
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget());
    if (toplevel == nullptr || !gtk_widget_is_toplevel(toplevel) || !GTK_IS_WINDOW(toplevel)) return nullptr;
    return GTK_WINDOW(toplevel);
}

bool WebKitWebViewAdapter::isInWindow() const {
    GtkWindow* toplevel = window();
    return toplevel != nullptr && gtk_widget_get_visible(GTK_WIDGET(toplevel));
}

bool WebKitWebViewAdapter::isInKeyWindow() const {
    GtkWindow* toplevel = window();
    return toplevel != nullptr && gtk_window_is_active(toplevel);
}

void WebKitWebViewAdapter::cancelTimeout() {
    if (timeoutSource_ != 0) g_source_remove(timeoutSource_);
    timeoutSource_ = 0;
}

void WebKitWebViewAdapter::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    if (event == WEBKIT_LOAD_STARTED) self->failed_ = false;
    if (event == WEBKIT_LOAD_COMMITTED) self->cancelTimeout();
    if (event != WEBKIT_LOAD_FINISHED) return;
    self->cancelTimeout();
    // WebKit also ends a failed load with FINISHED; only a real success counts as finished.
    if (self->failed_) return;
    if (auto delegate = self->delegate_.lock()) delegate->didFinishNavigation();
}

gboolean WebKitWebViewAdapter::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer data) {
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    self->failed_ = true;
    self->cancelTimeout();
    return FALSE;
}

gboolean WebKitWebViewAdapter::onLoadTimeout(gpointer data) {
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    self->timeoutSource_ = 0;
    webkit_web_view_stop_loading(self->view_.get());
    return G_SOURCE_REMOVE;
}

}  // namespace orvan
