#include "webhost/Coordinator.h"

#include <utility>

namespace orvan {

namespace names = notification_names;

bool isAcceptableOpenPath(const std::string& path) {
    return path.starts_with('/') && path.find("//") == std::string::npos &&
           path.find('\\') == std::string::npos && path.find('"') == std::string::npos;
}

std::shared_ptr<Coordinator> Coordinator::create(Url appURL, WebHostContext context) {
    std::shared_ptr<Coordinator> coordinator(new Coordinator(std::move(appURL), std::move(context)));
    coordinator->registerObservers();
    return coordinator;
}

Coordinator::Coordinator(Url appURL, WebHostContext context)
    : appURL_(std::move(appURL)),
      context_(std::move(context)),
      recovery_(appURL_, kRequestTimeout, context_.timers, context_.network) {}

void Coordinator::registerObservers() {
    using Handler = void (*)(Coordinator&, const Notification&);
    // The blocks hold the coordinator weakly: a window closed before delivery changes nothing.
    auto observe = [this](const char* name, Handler handler) {
        return context_.center->addObserver(
            name, [weak = weak_from_this(), handler](const Notification& notification) {
                if (auto self = weak.lock()) handler(*self, notification);
            });
    };
    openURLObserver_ = observe(names::kOpenInternalURL,
                               [](Coordinator& self, const Notification& n) { self.handleOpenInternalURL(n); });
    reloadObserver_ = observe(names::kReload, [](Coordinator& self, const Notification&) { self.handleReload(); });
    evaluateObserver_ = observe(names::kEvaluate,
                                [](Coordinator& self, const Notification& n) { self.handleEvaluate(n); });
    openPathObserver_ = observe(names::kOpenPath,
                                [](Coordinator& self, const Notification& n) { self.handleOpenPath(n); });
    tokenObserver_ = observe(names::kAPNsTokenReady,
                             [](Coordinator& self, const Notification&) { self.handleTokenReady(); });
}

void Coordinator::attach(const std::shared_ptr<WebView>& webView) {
    webView_ = webView;
    recovery_.attach(webView);
    context_.registry->add(shared_from_this());
}

void Coordinator::load(const Url& url) {
    // In place of the shell's page, the address becomes the one to reach (an opened notification,
    // the meeting-notes hand-over): it is tried now and again until it loads.
    if (recovery_.isShowing()) recovery_.navigate(url);
    else if (auto view = webView_.lock()) view->load(url, kRequestTimeout);
}

bool Coordinator::isFrontCoordinator() const {
    std::vector<std::shared_ptr<Coordinator>> placed;
    for (auto& coordinator : context_.registry->live()) {
        auto view = coordinator->webView();
        if (view && view->isInWindow()) placed.push_back(std::move(coordinator));
    }
    if (placed.empty()) return true;
    for (const auto& coordinator : placed) {
        if (coordinator->webView()->isInKeyWindow()) return coordinator.get() == this;
    }
    return placed.front().get() == this;
}

void Coordinator::handleOpenInternalURL(const Notification& notification) {
    if (!isFrontCoordinator()) return;
    const auto* url = std::any_cast<Url>(&notification.object);
    if (url == nullptr) return;
    context_.mainLoop->post([weak = weak_from_this(), url = *url] {
        auto self = weak.lock();
        if (!self) return;
        self->context_.push->setPendingOpenURL(std::nullopt);
        self->load(url);
    });
}

void Coordinator::handleReload() {
    if (!isFrontCoordinator()) return;
    // The shell's page stands in for the failed address: reloading it means trying that again.
    if (recovery_.isShowing()) recovery_.retryNow();
    else if (auto view = webView_.lock()) view->reload();
}

void Coordinator::handleEvaluate(const Notification& notification) {
    const auto* source = std::any_cast<std::string>(&notification.object);
    if (source == nullptr) return;
    const auto& info = notification.userInfo;
    const bool frontOnly = info.is_object() && info.contains(kFrontOnlyKey) &&
                           info[kFrontOnlyKey].is_boolean() && info[kFrontOnlyKey].get<bool>();
    if (frontOnly && !isFrontCoordinator()) return;
    if (auto view = webView_.lock()) view->evaluateScript(*source);
}

void Coordinator::handleOpenPath(const Notification& notification) {
    if (!isFrontCoordinator()) return;
    const auto* path = std::any_cast<std::string>(&notification.object);
    if (path == nullptr || !isAcceptableOpenPath(*path)) return;
    if (auto url = Url::parse(*path, appURL_)) load(*url);
}

void Coordinator::handleTokenReady() {
    auto view = webView_.lock();
    if (!view) return;
    context_.mainLoop->post([weakView = std::weak_ptr<WebView>(view), sync = context_.syncRegistration] {
        auto live = weakView.lock();
        if (live && sync) sync(live);
    });
}

void Coordinator::didReceiveScriptMessage(const ScriptMessage& message, const ReplyOnce& reply) {
    // Each message in its own task, so that replies may complete out of order.
    context_.mainLoop->post([weak = weak_from_this(), message, reply] {
        auto self = weak.lock();
        if (!self || !self->context_.dispatcher) {
            reply(ScriptReply::error(kInvalidCallMessage));
            return;
        }
        self->context_.dispatcher->dispatch(message, self->appURL_, self->webView_, reply);
    });
}

void Coordinator::decidePolicyForNavigation(const std::optional<std::string>& url, std::function<void(bool)> decide) {
    if (url && recovery_.takesOverNavigation(*url)) {
        decide(false);
        context_.mainLoop->post([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->recovery_.retryNow();
        });
        return;
    }
    context_.mainLoop->post([weak = weak_from_this(), url, decide = std::move(decide)] {
        auto self = weak.lock();
        if (!self || !self->context_.navigationPolicy) {
            decide(self != nullptr);
            return;
        }
        self->context_.navigationPolicy->decide(url, decide);
    });
}

void Coordinator::requestMediaCapturePermission(const std::optional<std::string>& requestingHost,
                                                std::function<void(bool)> decide) {
    context_.mainLoop->post([appURL = appURL_, requestingHost, decide = std::move(decide)] {
        decide(NavigationPolicy::allowsMediaCapture(requestingHost, appURL));
    });
}

void Coordinator::didFailNavigation(const std::optional<Url>& failingURL, LoadFailure failure) {
    const bool signIn =
        NavigationPolicy::recoverFromFailedNavigation(webView_.lock(), failingURL, appURL_, *context_.mainLoop);
    recovery_.loadFailed(failingURL, failure, signIn);
}

bool Coordinator::acceptsMainFrameResponse(const Url& url, int status, const std::string& mimeType) {
    return !recovery_.isGatewayAnswer(url, status, mimeType);
}

void Coordinator::didFinishNavigation() {
    recovery_.pageLoaded();
    handleTokenReady();
}

}  // namespace orvan
