#include "app/AppConfig.h"

#include <utility>

namespace orvan {

namespace {

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kWhite = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(kWhite);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kWhite);
    return text.substr(first, last - first + 1);
}

}  // namespace

AppConfig::AppConfig(std::shared_ptr<const InfoDictionary> info) : info_(std::move(info)) {}

Url AppConfig::appURL() const {
    const auto configured = info_ ? info_->stringValue(kAppURLKey) : std::nullopt;
    if (configured) {
        if (auto url = Url::parse(*configured)) return *url;
    }
    return *Url::parse(kProductionOrigin);
}

const std::set<std::string>& AppConfig::trustedHosts() {
    static const std::set<std::string> hosts = {
        *Url::parse(kProductionOrigin)->host(),
        kPreviewHost,
    };
    return hosts;
}

bool AppConfig::staysInWebView(const std::optional<std::string>& host) const {
    if (!host) return false;
    const std::string lowered = asciiLower(*host);
    if (const auto appHost = appURL().host(); appHost && asciiLower(*appHost) == lowered) return true;
    if (trustedHosts().contains(lowered)) return true;
    if (endsWith(lowered, kAuthBackendSuffix)) return true;
    return lowered == kIdentitySignInHost || lowered == kIdentityVideoAccountHost;
}

std::optional<Url> AppConfig::internalURL(std::string_view text) const {
    const std::string_view input = trimmed(text);
    if (input.empty()) return std::nullopt;
    auto url = Url::parse(input, appURL());
    if (!url) return std::nullopt;
    if (asciiLower(url->scheme()) != "https") return std::nullopt;
    const auto host = url->host();
    if (!host || !trustedHosts().contains(asciiLower(*host))) return std::nullopt;
    return url;
}

}  // namespace orvan
