#include "webhost/ConnectionRecovery.h"

#include <algorithm>
#include <utility>

namespace orvan {

namespace {

int portOf(const Url& url) {
    if (const auto port = url.explicitPort()) return *port;
    return url.scheme() == "https" ? 443 : url.scheme() == "http" ? 80 : -1;
}

// The engine writes host names in lower case; the configured app URL may not.
bool sameOrigin(const Url& a, const Url& b) {
    return a.scheme() == b.scheme() && a.host() && b.host() && asciiLower(*a.host()) == asciiLower(*b.host()) &&
           portOf(a) == portOf(b);
}

}  // namespace

ConnectionRecovery::ConnectionRecovery(Url appURL, std::chrono::seconds loadTimeout, std::shared_ptr<MainTimers> timers,
                                       std::shared_ptr<NetworkMonitor> network)
    : appURL_(std::move(appURL)), loadTimeout_(loadTimeout), timers_(std::move(timers)), network_(std::move(network)) {}

bool ConnectionRecovery::isGatewayAnswer(const Url& url, int status, const std::string& mimeType) const {
    return sameOrigin(url, appURL_) && (status == 502 || status == 504 || (status == 503 && mimeType != "text/html"));
}

std::optional<UnreachablePage::Reason> ConnectionRecovery::reasonFor(const Url& url, LoadFailure failure) const {
    using Reason = UnreachablePage::Reason;
    if (!sameOrigin(url, appURL_)) return std::nullopt;  // the navigation policy's business
    const bool offline = network_ && !network_->isNetworkAvailable();
    switch (failure) {
    case LoadFailure::networkUnreachable: return Reason::offline;
    case LoadFailure::hostNotFound:
    case LoadFailure::timedOut: return offline ? Reason::offline : Reason::serverUnreachable;
    // Someone answered: the network is there, the server is not.
    case LoadFailure::connectionFailed:
    case LoadFailure::gatewayError: return Reason::serverUnreachable;
    case LoadFailure::insecureConnection: return Reason::insecure;
    case LoadFailure::cancelled:
    case LoadFailure::other: break;
    }
    return std::nullopt;
}

void ConnectionRecovery::loadFailed(const std::optional<Url>& url, LoadFailure failure, bool handledElsewhere) {
    // The view reports the end of the current main-frame load only (not of one it replaced), so an
    // attempt on its way ends here, whatever address it ended at (a redirect's target).
    const bool attempted = std::exchange(attempting_, false);
    awaitingOwnDecision_ = false;
    if (failure == LoadFailure::cancelled) {
        // A stopped attempt frees the way for the next one; another stopped load says nothing.
        if (attempted) scheduleRetry();
        return;
    }
    const auto reason = url && !handledElsewhere ? reasonFor(*url, failure) : std::nullopt;
    auto view = webView_.lock();
    if (!reason || !view) {
        stop();
        return;
    }
    if (!failed_ && network_) {
        networkAvailable_ = network_->isNetworkAvailable();
        networkWatch_ = network_->observe([this](bool available) { networkChanged(available); });
    }
    failed_ = *url;
    view->showErrorPage(UnreachablePage::html(*reason, *url), *url);
    scheduleRetry();
}

void ConnectionRecovery::pageLoaded() { stop(); }

void ConnectionRecovery::navigate(const Url& url) {
    if (attempting_ && failed_ == url) return;
    start(url);
}

void ConnectionRecovery::retryNow() {
    if (failed_ && !attempting_) start(*failed_);
}

bool ConnectionRecovery::takesOverNavigation(const std::string& url) {
    if (!failed_ || url != failed_->string()) return false;
    if (awaitingOwnDecision_) {
        awaitingOwnDecision_ = false;
        return false;
    }
    return true;
}

void ConnectionRecovery::start(const Url& url) {
    auto view = webView_.lock();
    if (!view) return;
    retryTimer_.reset();
    failed_ = url;
    attempting_ = awaitingOwnDecision_ = true;
    view->load(url, loadTimeout_);
    // The address as the engine took it, which is what its navigation asks about.
    if (const auto taken = view->currentURL()) failed_ = *taken;
}

void ConnectionRecovery::scheduleRetry() {
    if (!timers_ || !failed_ || attempting_) return;
    retryTimer_ = timers_->schedule(nextWait_, false, [this] { retryNow(); });
    nextWait_ = std::min(nextWait_ * 2, kLongestWait);
}

void ConnectionRecovery::stop() {
    failed_.reset();
    attempting_ = awaitingOwnDecision_ = false;
    retryTimer_.reset();
    networkWatch_.reset();
    nextWait_ = kFirstWait;
}

void ConnectionRecovery::networkChanged(bool available) {
    const bool back = available && !networkAvailable_;
    networkAvailable_ = available;
    if (!back || !failed_) return;
    // A fresh attempt now; one already on its way keeps its time, and should it fail, the next
    // one comes after the shortest wait.
    nextWait_ = kFirstWait;
    if (!attempting_) start(*failed_);
}

}  // namespace orvan
