#include "app/Url.h"

#include <glib.h>

namespace orvan {


Url::Url(GUri* uri) : uri_(uri, g_uri_unref) {
    char* text = g_uri_to_string(uri);
    text_ = text;
    g_free(text);
}

std::optional<Url> Url::parse(std::string_view text) {
    const std::string owned(text);
    GUri* uri = g_uri_parse(owned.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (uri == nullptr) return std::nullopt;
    return Url(uri);
}

std::optional<Url> Url::parse(std::string_view text, const Url& base) {
    const std::string owned(text);
    GUri* uri = g_uri_parse_relative(base.uri_.get(), owned.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (uri == nullptr) return std::nullopt;
    return Url(uri);
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
