#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct _GUri;

namespace orvan {

// An absolute URL, parsed and resolved by GLib's GUri. Immutable; copies share the parsed form.
// Nothing is decoded: escapes stay as written (a "%2B" is not a "+"), a lone "%" and bytes that are
// not UTF-8 are accepted, and the text given is kept as it is, so a link reaches the browser or the
// server exactly as the page or the engine wrote it.
class Url {
public:
    // Parses an absolute URL; nullopt when the text is not one, or holds white space or control
    // characters (which no engine hands out).
    static std::optional<Url> parse(std::string_view text);
    // Resolves `text` (a path, a relative reference or a full URL) against `base`. A full URL is
    // kept as written.
    static std::optional<Url> parse(std::string_view text, const Url& base);

    // The text as given; for a resolved reference, the absolute form GUri writes.
    const std::string& string() const { return text_; }
    // Lower case, as GUri normalises it.
    std::string scheme() const;
    // Letter case as given; nullopt when the URL has no host (mailto:, about:blank).
    std::optional<std::string> host() const;
    // The port only when the URL spells one out.
    std::optional<int> explicitPort() const;
    // Still percent-encoded, as in the URL.
    std::string path() const;
    std::optional<std::string> query() const;

    friend bool operator==(const Url& a, const Url& b) { return a.text_ == b.text_; }

private:
    Url(_GUri* uri, std::string text);
    std::shared_ptr<_GUri> uri_;
    std::string text_;
};

// Scheme, "://", host and an explicit port; the whole URL when it has no host.
std::string origin(const Url& url);

// ASCII lower case; host names and schemes are compared this way.
std::string asciiLower(std::string_view text);

}  // namespace orvan
