#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orvan {

// One release in the update feed: an RSS 2.0 item whose enclosure carries the file and, in our
// namespace, its version and Ed25519 signature.
struct AppcastItem {
    std::string title;
    std::string version;       // compared with the running version
    std::string shortVersion;  // shown to the user; the version when absent
    std::string releaseNotes;  // plain text (HTML in the feed is reduced to its text)
    std::string url;
    std::uint64_t length = 0;  // bytes; 0 when the feed does not say
    std::string type;
    std::string signature;  // base64 Ed25519 signature of the version with the file
};

// The update feed (an "appcast"): RSS 2.0 with one item per release, in any order.
struct Appcast {
    static constexpr const char* kNamespace = "https://tomoriva.jp/xmlns/kestrin-update";

    std::vector<AppcastItem> items;

    // The feed's items that can be offered: an item without a file, version or signature is left
    // out, since it could never be verified. The error text when the feed is not an RSS feed.
    static std::variant<Appcast, std::string> parse(std::string_view xml);

    // The newest item newer than `current`, unless it is `skipped`.
    std::optional<AppcastItem> newestAfter(std::string_view current, const std::optional<std::string>& skipped) const;
};

}  // namespace orvan
