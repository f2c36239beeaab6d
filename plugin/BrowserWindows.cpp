#include "plugin/BrowserWindows.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <optional>

namespace orvan::BrowserWindows {

namespace {

struct Browser {
    std::string_view classPrefix;  // lower case; the class is this, or this and "-<channel>"
    std::string_view owner;
    std::initializer_list<std::string_view> suffixes;
};

// Longer suffixes first: " — Mozilla Firefox Private Browsing" before " — Mozilla Firefox".
const std::array<Browser, 8> kBrowsers = {{
    {"google-chrome", "Google Chrome", {" - Google Chrome"}},
    {"chromium-browser", "Chromium", {" - Chromium"}},
    {"chromium", "Chromium", {" - Chromium"}},
    // Edge writes a zero-width space between its two words.
    {"microsoft-edge", "Microsoft Edge", {" - Microsoft\u200B Edge", " - Microsoft Edge"}},
    {"brave-browser", "Brave Browser", {" - Brave"}},
    {"firefox", "Firefox",
     {" \u2014 Mozilla Firefox Private Browsing", " - Mozilla Firefox Private Browsing", " \u2014 Mozilla Firefox",
      " - Mozilla Firefox", " \u2014 Firefox Developer Edition", " \u2014 Firefox Nightly"}},
    {"vivaldi", "Vivaldi", {" - Vivaldi"}},
    {"opera", "Opera", {" - Opera"}},
}};

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

const Browser* browserForClass(std::string_view windowClass) {
    const std::string name = lower(windowClass);
    for (const Browser& browser : kBrowsers) {
        if (!name.starts_with(browser.classPrefix)) continue;
        if (name.size() == browser.classPrefix.size() || name[browser.classPrefix.size()] == '-') return &browser;
    }
    return nullptr;
}

// Where the suffix ends the name, or is followed only by " - <profile>".
std::optional<std::size_t> suffixStart(std::string_view name, std::string_view suffix) {
    const std::size_t at = name.rfind(suffix);
    if (at == std::string_view::npos || at == 0) return std::nullopt;
    const std::string_view rest = name.substr(at + suffix.size());
    if (rest.empty()) return at;
    constexpr std::string_view kProfileSeparator = " - ";
    if (rest.starts_with(kProfileSeparator) && rest.size() > kProfileSeparator.size() &&
        rest.substr(kProfileSeparator.size()).find(kProfileSeparator) == std::string_view::npos)
        return at;
    return std::nullopt;
}

}  // namespace

std::string ownerName(std::string_view windowClass) {
    const Browser* browser = browserForClass(windowClass);
    return browser != nullptr ? std::string(browser->owner) : std::string(windowClass);
}

std::string pageTitle(std::string_view owner, std::string_view windowName) {
    for (const Browser& browser : kBrowsers) {
        if (browser.owner != owner) continue;
        for (std::string_view suffix : browser.suffixes) {
            if (auto at = suffixStart(windowName, suffix)) return std::string(windowName.substr(0, *at));
        }
    }
    return std::string(windowName);
}

}  // namespace orvan::BrowserWindows
