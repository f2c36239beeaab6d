#include "platform/Url.h"

#include <glib.h>

namespace orvan {

namespace {

// Escapes stay as written; a lone "%" and non-UTF-8 bytes pass.
constexpr auto kFlags = static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_PARSE_RELAXED);

// Relaxed parsing would quietly drop or re-encode these, so the kept text would no longer be the
// parsed one: refuse them instead.
bool hasSpaceOrControl(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) return true;
    }
    return false;
}

}  // namespace

Url::Url(GUri* uri, std::string text) : uri_(uri, g_uri_unref), text_(std::move(text)) {}

std::optional<Url> Url::parse(std::string_view text) {
    if (hasSpaceOrControl(text)) return std::nullopt;
    std::string owned(text);
    GUri* uri = g_uri_parse(owned.c_str(), kFlags, nullptr);
    if (uri == nullptr) return std::nullopt;
    return Url(uri, std::move(owned));
}

std::optional<Url> Url::parse(std::string_view text, const Url& base) {
    if (hasSpaceOrControl(text)) return std::nullopt;
    const std::string owned(text);
    if (g_uri_peek_scheme(owned.c_str()) != nullptr) return parse(owned);
    GUri* uri = g_uri_parse_relative(base.uri_.get(), owned.c_str(), kFlags, nullptr);
    if (uri == nullptr) return std::nullopt;
    char* resolved = g_uri_to_string(uri);
    std::string absolute = resolved;
    g_free(resolved);
    return Url(uri, std::move(absolute));
}

std::string Url::scheme() const {
    const char* scheme = g_uri_get_scheme(uri_.get());
    return scheme != nullptr ? scheme : "";
}

std::optional<std::string> Url::host() const {
    const char* host = g_uri_get_host(uri_.get());
    if (host == nullptr || *host == '\0') return std::nullopt;
    return std::string(host);
}

std::optional<int> Url::explicitPort() const {
    const int port = g_uri_get_port(uri_.get());
    if (port < 0) return std::nullopt;
    return port;
}

std::string Url::path() const {
    const char* path = g_uri_get_path(uri_.get());
    return path != nullptr ? path : "";
}

std::optional<std::string> Url::query() const {
    const char* query = g_uri_get_query(uri_.get());
    if (query == nullptr) return std::nullopt;
    return std::string(query);
}

std::string origin(const Url& url) {
    const auto host = url.host();
    if (url.scheme().empty() || !host) return url.string();
    // GUri hands IPv6 literals back without their brackets.
    const bool ipv6 = host->find(':') != std::string::npos;
    std::string result = url.scheme() + "://" + (ipv6 ? "[" + *host + "]" : *host);
    if (const auto port = url.explicitPort()) result += ":" + std::to_string(*port);
    return result;
}

std::string asciiLower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

}  // namespace orvan
