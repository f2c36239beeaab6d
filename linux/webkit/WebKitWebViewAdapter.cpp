#include "linux/webkit/WebKitWebViewAdapter.h"

#include "linux/webkit/LoadFailures.h"
#include "platform/NestedJson.h"
#include "webhost/CommandDispatcher.h"
#include "webhost/PageScripts.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace orvan {

WebKitWebViewAdapter::WebKitWebViewAdapter(WebKitWebView* view, std::weak_ptr<WebViewDelegate> delegate,
                                           std::vector<std::string> channels)
    : view_(GObjectPtr<WebKitWebView>::retain(view)), delegate_(std::move(delegate)), channels_(std::move(channels)) {
    loadChangedHandler_ = g_signal_connect(view, "load-changed", G_CALLBACK(&onLoadChanged), this);
    loadFailedHandler_ = g_signal_connect(view, "load-failed", G_CALLBACK(&onLoadFailed), this);
    policyHandler_ = g_signal_connect(view, "decide-policy", G_CALLBACK(&onDecidePolicy), this);
    permissionHandler_ = g_signal_connect(view, "permission-request", G_CALLBACK(&onPermissionRequest), this);
    if (!channels_.empty()) {
        messageHandler_ = g_signal_connect(view, "user-message-received", G_CALLBACK(&onUserMessage), this);
    }
}

WebKitWebViewAdapter::~WebKitWebViewAdapter() {
    cancelTimeout();
    // A destroyed widget has already dropped its handlers.
    for (const gulong handler :
         {loadChangedHandler_, loadFailedHandler_, policyHandler_, permissionHandler_, messageHandler_}) {
        if (handler != 0 && g_signal_handler_is_connected(view_.get(), handler)) {
            g_signal_handler_disconnect(view_.get(), handler);
        }
    }
}

void WebKitWebViewAdapter::load(const Url& url, std::chrono::seconds timeout) {
    cancelTimeout();
    replacing_ = true;
    webkit_web_view_load_uri(view_.get(), url.string().c_str());
    // WebKitGTK has no request time-out of its own: stop the load when the main resource has not
    // answered in time, which reports the load as failed like any other. The timer belongs to this
    // navigation alone, known by the address the engine took it under (the view reports it at once).
    const char* requested = webkit_web_view_get_uri(view_.get());
    timedURI_ = requested != nullptr ? requested : url.string();
    timedLoadStarted_ = false;
    timeoutSource_ = g_timeout_add_seconds(static_cast<guint>(timeout.count()), &onLoadTimeout, this);
}

void WebKitWebViewAdapter::reload() {
    replacing_ = true;
    webkit_web_view_reload(view_.get());
}

void WebKitWebViewAdapter::showErrorPage(const std::string& html, const Url& failedURL) {
    errorPageShown_ = true;
    errorPageRequested_ = true;
    replacing_ = true;
    // The engine's way for error pages: the view keeps the failed address (and its place in the
    // history), while the document is about:blank's, of an opaque origin that no page script or
    // relay serves.
    webkit_web_view_load_alternate_html(view_.get(), html.c_str(), failedURL.string().c_str(), nullptr);
}

void WebKitWebViewAdapter::evaluateScript(const std::string& source) {
    if (errorPageCommitted_) return;
    webkit_web_view_evaluate_javascript(view_.get(), source.c_str(), static_cast<gssize>(source.size()),
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
}

namespace {

// The engine takes arguments as a{sv}: strings, integers and nested dictionaries (it refuses
// booleans, so there are none to pass).
GVariant* toVariant(const nlohmann::json& value) {
    if (value.is_object()) {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
        for (const auto& [key, item] : value.items()) g_variant_builder_add(&builder, "{sv}", key.c_str(), toVariant(item));
        return g_variant_builder_end(&builder);
    }
    if (value.is_number_integer()) return g_variant_new_int64(value.get<std::int64_t>());
    if (value.is_number()) return g_variant_new_double(value.get<double>());
    if (value.is_string()) return g_variant_new_string(value.get_ref<const std::string&>().c_str());
    return g_variant_new_string(value.dump().c_str());
}

struct AsyncCall {
    std::function<void(WebView::ScriptResult)> completion;
};

}  // namespace

void WebKitWebViewAdapter::callAsyncFunction(const std::string& body, const nlohmann::json& arguments,
                                             std::function<void(ScriptResult)> completion) {
    if (errorPageCommitted_) {
        completion(std::string("no page of the web application"));
        return;
    }
    GVariant* args = toVariant(arguments.is_object() ? arguments : nlohmann::json::object());
    auto* call = new AsyncCall{std::move(completion)};
    webkit_web_view_call_async_javascript_function(
        view_.get(), body.c_str(), static_cast<gssize>(body.size()), args, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<AsyncCall> pending(static_cast<AsyncCall*>(data));
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value == nullptr) {
                std::string message = error != nullptr ? error->message : "script failed";
                if (error != nullptr) g_error_free(error);
                pending->completion(message);
                return;
            }
            auto owned = GObjectPtr<JSCValue>::take(value);
            nlohmann::json json = nullptr;
            if (!jsc_value_is_undefined(value)) {
                char* text = jsc_value_to_json(value, 0);
                if (text != nullptr) {
                    json = parseJsonNestedAtMost(text, kMaxBodyLevels).value_or(nullptr);
                    g_free(text);
                }
            }
            pending->completion(std::move(json));
        },
        call);
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
    timedURI_.clear();
}

void WebKitWebViewAdapter::followTimedLoad(WebKitLoadEvent event, const char* uri) {
    if (timeoutSource_ == 0) return;
    if (timedLoadStarted_) {
        // It has an answer, failed, or was replaced by a newer navigation.
        if (event != WEBKIT_LOAD_REDIRECTED) cancelTimeout();
        return;
    }
    // Events before it starts belong to the navigation it replaces; another navigation starting
    // first has replaced it.
    if (event != WEBKIT_LOAD_STARTED) return;
    if (uri != nullptr && timedURI_ == uri) timedLoadStarted_ = true;
    else cancelTimeout();
}

void WebKitWebViewAdapter::onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    const char* uri = webkit_web_view_get_uri(view);
    self->followTimedLoad(event, uri);
    if (event == WEBKIT_LOAD_STARTED) self->failed_ = self->replacing_ = self->timedOut_ = false;
    if (event == WEBKIT_LOAD_COMMITTED) {
        // The error page's document is about:blank's, under the failed address.
        WebKitWebResource* document = webkit_web_view_get_main_resource(view);
        self->errorPageCommitted_ = self->errorPageRequested_ && document != nullptr &&
                                    g_strcmp0(webkit_web_resource_get_uri(document), "about:blank") == 0;
        self->errorPageRequested_ = false;
        self->committedURI_ = uri != nullptr && !self->errorPageCommitted_ ? uri : "";
    }
    if (event != WEBKIT_LOAD_FINISHED) return;
    // WebKit also ends a failed load with FINISHED; only a real success counts as finished.
    if (self->failed_ || self->errorPageCommitted_) return;
    if (auto delegate = self->delegate_.lock()) delegate->didFinishNavigation();
}

gboolean WebKitWebViewAdapter::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* failingURI, GError* error,
                                            gpointer data) {
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    self->failed_ = true;  // its FINISHED is no success either
    LoadFailure failure = loadFailureOf(error);
    const bool timedOut = std::exchange(self->timedOut_, false);
    // The navigation a newer load of ours replaced: not that load's end.
    if (self->replacing_ && failure == LoadFailure::cancelled) return FALSE;
    // A load the engine cannot even start fails without a start of its own.
    if (self->timedLoadStarted_ || (failingURI != nullptr && self->timedURI_ == failingURI)) self->cancelTimeout();
    if (timedOut && failure == LoadFailure::cancelled) failure = LoadFailure::timedOut;
    const std::string failing = failingURI != nullptr ? failingURI : "";
    if (!failing.empty() && failing == std::exchange(self->refusedAnswerURI_, {})) failure = LoadFailure::gatewayError;
    self->errorPageShown_ = false;
    if (auto delegate = self->delegate_.lock()) {
        delegate->didFailNavigation(failingURI != nullptr ? Url::parse(failingURI) : std::nullopt, failure);
    }
    // Otherwise the engine's own error page.
    return self->errorPageShown_ ? TRUE : FALSE;
}

gboolean WebKitWebViewAdapter::onLoadTimeout(gpointer data) {
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    self->timeoutSource_ = 0;
    // Whatever ends now is the timed load, redirected or not.
    self->timedOut_ = true;
    self->replacing_ = false;
    webkit_web_view_stop_loading(self->view_.get());
    return G_SOURCE_REMOVE;
}

}  // namespace orvan

namespace orvan {

namespace {

// The reply travels back as text with its kind: "string", "null", "none" or "error".
void sendReply(WebKitUserMessage* message, const ScriptReply& answer) {
    const char* kind = "none";
    switch (answer.kind) {
    case ScriptReply::Kind::error: kind = "error"; break;
    case ScriptReply::Kind::string: kind = "string"; break;
    case ScriptReply::Kind::null: kind = "null"; break;
    case ScriptReply::Kind::none: kind = "none"; break;
    }
    webkit_user_message_send_reply(message, webkit_user_message_new(kBridgeReplyName, g_variant_new("(ss)", kind, answer.text.c_str())));
}

}  // namespace

gboolean WebKitWebViewAdapter::onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
    if (g_strcmp0(webkit_user_message_get_name(message), kBridgeRequestName) != 0) return FALSE;
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    auto held = GObjectPtr<WebKitUserMessage>::retain(message);
    const ReplyOnce answer([held](ScriptReply result) { sendReply(held.get(), result); });
    auto delegate = self->delegate_.lock();
    GVariant* parameters = webkit_user_message_get_parameters(message);
    // The shell's error page has no bridge: nothing it could send is answered.
    if (!delegate || self->errorPageCommitted_ || parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
        answer(ScriptReply::error(kInvalidCallMessage));
        return TRUE;
    }
    const char* channel = nullptr;
    const char* text = nullptr;
    g_variant_get(parameters, "(&s&s)", &channel, &text);
    if (std::find(self->channels_.begin(), self->channels_.end(), channel) == self->channels_.end()) {
        answer(ScriptReply::error(kInvalidCallMessage));
        return TRUE;
    }

    ScriptMessage script;
    script.channel = channel;
    // The extension gives the posting function only to the shell's own script world of the top
    // frame, where only the relay runs: every message comes from the main frame. The relay stamps
    // each with its document's origin, read where the page cannot change it; the view's address
    // would name the page being loaded instead while the old document still runs.
    script.fromMainFrame = true;
    // The relay's stamp wraps the body in one more level. A body nested too deep stays unset and is
    // refused as malformed.
    auto stamped = parseJsonNestedAtMost(text, kMaxBodyLevels + 1).value_or(nullptr);
    if (stamped.is_object()) {
        const auto origin = stamped.find(kSenderOriginKey);
        if (origin != stamped.end() && origin->is_string()) {
            if (const auto url = Url::parse(origin->get<std::string>())) script.senderHost = url->host();
        }
        const auto inner = stamped.find(kMessageBodyKey);
        if (inner != stamped.end()) script.body = std::move(*inner);
    }
    delegate->didReceiveScriptMessage(script, answer);
    return TRUE;
}

}  // namespace orvan

namespace orvan {

namespace {

// Answers a decision exactly once; one dropped unanswered is refused, so nothing waits for ever.
template <typename Decision>
std::function<void(bool)> answerOnce(Decision* decision, void (*allow)(Decision*), void (*refuse)(Decision*)) {
    struct State {
        Decision* decision;
        void (*allow)(Decision*);
        void (*refuse)(Decision*);
        bool answered = false;
        State(Decision* d, void (*a)(Decision*), void (*r)(Decision*)) : decision(d), allow(a), refuse(r) {}
        State(const State&) = delete;
        State& operator=(const State&) = delete;
        ~State() {
            if (!answered) refuse(decision);
            g_object_unref(decision);
        }
    };
    g_object_ref(decision);
    auto state = std::shared_ptr<State>(new State(decision, allow, refuse));
    return [state](bool allowed) {
        if (state->answered) return;
        state->answered = true;
        (allowed ? state->allow : state->refuse)(state->decision);
    };
}

}  // namespace

gboolean WebKitWebViewAdapter::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                              WebKitPolicyDecisionType type, gpointer data) {
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    auto delegate = self->delegate_.lock();
    if (!delegate) return FALSE;
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return self->decideResponse(*delegate, decision);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = action != nullptr ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
    auto answer = answerOnce<WebKitPolicyDecision>(decision, &webkit_policy_decision_use, &webkit_policy_decision_ignore);
    std::function<void(bool)> decide = answer;
    if (uri != nullptr && type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        // A refused navigation never starts and sends no load signal: its time-out goes with it.
        decide = [answer, weak = self->weak_from_this(), target = std::string(uri)](bool allowed) {
            auto adapter = weak.lock();
            if (!allowed && adapter && adapter->timeoutSource_ != 0 && !adapter->timedLoadStarted_ &&
                adapter->timedURI_ == target) {
                adapter->cancelTimeout();
            }
            answer(allowed);
        };
    }
    delegate->decidePolicyForNavigation(uri != nullptr ? std::optional<std::string>(uri) : std::nullopt, decide);
    return TRUE;
}

gboolean WebKitWebViewAdapter::decideResponse(WebViewDelegate& delegate, WebKitPolicyDecision* decision) {
    // Other answers (downloads, MIME types) keep the engine's own handling.
    auto* answer = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    if (!webkit_response_policy_decision_is_main_frame_main_resource(answer)) return FALSE;
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(answer);
    const char* uri = webkit_uri_response_get_uri(response);
    const char* mimeType = webkit_uri_response_get_mime_type(response);
    const auto url = uri != nullptr ? Url::parse(uri) : std::nullopt;
    if (!url || delegate.acceptsMainFrameResponse(*url, static_cast<int>(webkit_uri_response_get_status_code(response)),
                                                  mimeType != nullptr ? mimeType : "")) {
        return FALSE;
    }
    refusedAnswerURI_ = uri;
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

gboolean WebKitWebViewAdapter::onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer data) {
    if (!WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) return FALSE;
    auto* self = static_cast<WebKitWebViewAdapter*>(data);
    auto delegate = self->delegate_.lock();
    if (!delegate) return FALSE;
    // The engine does not say which frame asked; the document the main frame has committed is the
    // most precise origin it gives (the view's address already names a page still being requested),
    // and a foreign main frame never matches the app's host.
    const auto committed = Url::parse(self->committedURI_);
    delegate->requestMediaCapturePermission(committed ? committed->host() : std::nullopt,
                                            answerOnce<WebKitPermissionRequest>(request, &webkit_permission_request_allow,
                                                                                &webkit_permission_request_deny));
    return TRUE;
}

}  // namespace orvan
