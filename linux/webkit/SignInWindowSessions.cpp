#include "linux/webkit/SignInWindowSessions.h"

#include <gtk/gtk.h>

#include "platform/PrivateFiles.h"

namespace orvan {

namespace {

GtkWindow*& shownWindow() {
    static GtkWindow* window = nullptr;
    return window;
}

// The window the sign-in is shown over: the active one, else any visible window of ours.
GtkWindow* presentationAnchor() {
    GList* toplevels = gtk_window_list_toplevels();
    GtkWindow* anchor = nullptr;
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (window == shownWindow() || !gtk_widget_get_visible(GTK_WIDGET(window))) continue;
        if (gtk_window_is_active(window)) {
            anchor = window;
            break;
        }
        if (anchor == nullptr && gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL) anchor = window;
    }
    g_list_free(toplevels);
    return anchor;
}

class SignInWindowSession final : public WebAuthenticationSession,
                                  public std::enable_shared_from_this<SignInWindowSession> {
public:
    SignInWindowSession(WebKitWebContext* context, Url url, std::string callbackHost, std::string callbackPath,
                        std::function<void(WebAuthenticationResult)> completion)
        : context_(GObjectPtr<WebKitWebContext>::retain(context)), url_(std::move(url)),
          callbackHost_(std::move(callbackHost)), callbackPath_(std::move(callbackPath)),
          completion_(std::move(completion)) {}

    ~SignInWindowSession() override { closeWindow(); }
    SignInWindowSession(const SignInWindowSession&) = delete;
    SignInWindowSession& operator=(const SignInWindowSession&) = delete;

    bool start() override {
        GtkWindow* anchor = presentationAnchor();
        if (anchor == nullptr || window_ != nullptr) return false;
        window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        gtk_window_set_transient_for(window_, anchor);
        gtk_window_set_modal(window_, TRUE);
        gtk_window_set_destroy_with_parent(window_, TRUE);
        gtk_window_set_default_size(window_, 520, 680);

        GtkWidget* header = gtk_header_bar_new();
        gtk_header_bar_set_title(GTK_HEADER_BAR(header), SignInWindowSessions::kTitle);
        GtkWidget* cancel = gtk_button_new_with_label(SignInWindowSessions::kCancelLabel);
        gtk_header_bar_pack_start(GTK_HEADER_BAR(header), cancel);
        security_ = gtk_image_new();
        gtk_header_bar_pack_end(GTK_HEADER_BAR(header), security_);
        header_ = GTK_HEADER_BAR(header);
        gtk_window_set_titlebar(window_, header);

        view_ = GObjectPtr<WebKitWebView>::retain(
            WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(), nullptr)));
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_.get()));

        // The signal handlers hold the session weakly: it may be gone before the widgets are.
        auto* weak = new std::weak_ptr<SignInWindowSession>(weak_from_this());
        auto freeWeak = +[](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<SignInWindowSession>*>(data); };
        g_signal_connect_data(cancel, "clicked", G_CALLBACK(&onCancelClicked), weak, freeWeak, GConnectFlags(0));
        g_signal_connect_data(window_, "delete-event", G_CALLBACK(&onDeleteEvent),
                              new std::weak_ptr<SignInWindowSession>(*weak), freeWeak, GConnectFlags(0));
        g_signal_connect_data(window_, "destroy", G_CALLBACK(&onDestroy),
                              new std::weak_ptr<SignInWindowSession>(*weak), freeWeak, GConnectFlags(0));
        g_signal_connect_data(view_.get(), "decide-policy", G_CALLBACK(&onDecidePolicy),
                              new std::weak_ptr<SignInWindowSession>(*weak), freeWeak, GConnectFlags(0));
        g_signal_connect_data(view_.get(), "load-failed", G_CALLBACK(&onLoadFailed),
                              new std::weak_ptr<SignInWindowSession>(*weak), freeWeak, GConnectFlags(0));
        g_signal_connect_data(view_.get(), "load-changed", G_CALLBACK(&onLoadChanged),
                              new std::weak_ptr<SignInWindowSession>(*weak), freeWeak, GConnectFlags(0));

        shownWindow() = window_;
        gtk_widget_show_all(GTK_WIDGET(window_));
        gtk_window_present(window_);
        webkit_web_view_load_uri(view_.get(), url_.string().c_str());
        return true;
    }

    void cancel() override { finish({std::nullopt, WebAuthenticationResult::kCancelledByUser}); }

private:
    using Weak = std::weak_ptr<SignInWindowSession>;

    bool isCallback(const std::string& uri) const {
        const auto url = Url::parse(uri);
        if (!url || asciiLower(url->scheme()) != "https") return false;
        const auto host = url->host();
        return host && asciiLower(*host) == callbackHost_ && url->path() == callbackPath_;
    }

    void finish(WebAuthenticationResult result) {
        if (finished_) return;
        finished_ = true;
        // Keep this session alive while the completion runs.
        auto self = shared_from_this();
        closeWindow();
        if (completion_) std::exchange(completion_, nullptr)(std::move(result));
    }

    void closeWindow() {
        if (window_ == nullptr) return;
        header_ = nullptr;
        security_ = nullptr;
        GtkWindow* window = std::exchange(window_, nullptr);
        if (shownWindow() == window) shownWindow() = nullptr;
        gtk_widget_destroy(GTK_WIDGET(window));
    }

    static void onCancelClicked(GtkButton*, gpointer data) {
        if (auto self = static_cast<Weak*>(data)->lock()) self->cancel();
    }

    static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
        // Closing the window is the user's cancel.
        if (auto self = static_cast<Weak*>(data)->lock()) self->cancel();
        return TRUE;
    }

    // The window goes with the window it was shown over: that ends the sign-in as a cancel, and
    // the pointers to it must not outlive it.
    static void onDestroy(GtkWidget* widget, gpointer data) {
        auto self = static_cast<Weak*>(data)->lock();
        if (!self || GTK_WIDGET(self->window_) != widget) return;  // our own closeWindow()
        self->window_ = nullptr;
        self->header_ = nullptr;
        self->security_ = nullptr;
        if (GTK_WIDGET(shownWindow()) == widget) shownWindow() = nullptr;
        self->cancel();
    }

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer data) {
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        auto self = static_cast<Weak*>(data)->lock();
        if (!self) return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
        if (uri == nullptr || !self->isCallback(uri)) return FALSE;
        // The callback belongs to the application's own web view, not to this window.
        webkit_policy_decision_ignore(decision);
        self->finish({Url::parse(uri), std::nullopt});
        return TRUE;
    }

    // The user types account credentials here: the header says which host has the page the
    // window shows and whether the connection to it is secure, as a browser's address bar would.
    static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
        if (event != WEBKIT_LOAD_COMMITTED) return;
        auto self = static_cast<Weak*>(data)->lock();
        if (!self || self->header_ == nullptr) return;
        const char* uri = webkit_web_view_get_uri(view);
        const auto url = uri != nullptr ? Url::parse(uri) : std::nullopt;
        const std::string host = url && url->host() ? *url->host() : std::string(uri != nullptr ? uri : "");
        GTlsCertificate* certificate = nullptr;
        GTlsCertificateFlags errors = G_TLS_CERTIFICATE_NO_FLAGS;
        const bool secure = webkit_web_view_get_tls_info(view, &certificate, &errors) && errors == 0;
        const std::string subtitle = secure ? host : std::string(SignInWindowSessions::kNotSecure) + " — " + host;
        gtk_header_bar_set_subtitle(self->header_, subtitle.c_str());
        gtk_image_set_from_icon_name(GTK_IMAGE(self->security_),
                                     secure ? "channel-secure-symbolic" : "channel-insecure-symbolic",
                                     GTK_ICON_SIZE_BUTTON);
        gtk_widget_set_tooltip_text(self->security_, secure ? SignInWindowSessions::kSecure : SignInWindowSessions::kNotSecure);
    }

    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer data) {
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return FALSE;
        if (auto self = static_cast<Weak*>(data)->lock()) {
            self->finish({std::nullopt, SignInWindowSessions::kLoadFailed});
        }
        return FALSE;
    }

    GObjectPtr<WebKitWebContext> context_;
    Url url_;
    std::string callbackHost_;
    std::string callbackPath_;
    std::function<void(WebAuthenticationResult)> completion_;
    GtkWindow* window_ = nullptr;
    GtkHeaderBar* header_ = nullptr;  // both owned by the window
    GtkWidget* security_ = nullptr;
    GObjectPtr<WebKitWebView> view_;
    bool finished_ = false;
};

}  // namespace

SignInWindowSessions::SignInWindowSessions(const std::filesystem::path& dataDirectory)
    : dataDirectory_(dataDirectory / "signin") {}

// Made at the first sign-in: a context of its own costs start-up time and memory that most
// sessions never use.
WebKitWebContext* SignInWindowSessions::context() {
    if (context_) return context_.get();
    const auto& data = dataDirectory_;
    (void)private_files::createDirectories(data);
    dataManager_ = GObjectPtr<WebKitWebsiteDataManager>::take(webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", (data / "cache").c_str(), nullptr));
    context_ = GObjectPtr<WebKitWebContext>::take(webkit_web_context_new_with_website_data_manager(dataManager_.get()));
    webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(dataManager_.get()),
                                                 (data / "cookies.sqlite").c_str(),
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return context_.get();
}

std::shared_ptr<WebAuthenticationSession> SignInWindowSessions::create(
    const Url& url, const std::string& callbackHost, const std::string& callbackPath,
    std::function<void(WebAuthenticationResult)> completion) {
    return std::make_shared<SignInWindowSession>(context(), url, callbackHost, callbackPath, std::move(completion));
}

GtkWindow* SignInWindowSessions::currentWindow() { return shownWindow(); }

}  // namespace orvan
