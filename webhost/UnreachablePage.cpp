#include "webhost/UnreachablePage.h"

#include <glib.h>

#include <memory>

namespace orvan {

namespace {

std::string escaped(const std::string& text) {
    const std::unique_ptr<gchar, decltype(&g_free)> markup(g_markup_escape_text(text.c_str(), -1), &g_free);
    return markup.get();
}

// The application's colours (its icon's night blue and paper white), its Japanese font, nothing
// loaded from anywhere: the page must show with no network at all.
constexpr const char* kStyle = R"(
html, body { height: 100%; margin: 0; }
body { display: flex; align-items: center; justify-content: center; background: #f3f4fb; color: #1b2452;
  font-family: "Hiragino Sans", "Noto Sans CJK JP", "Noto Sans JP", sans-serif; }
main { text-align: center; padding: 32px; max-width: 36em; }
svg { width: 56px; height: 56px; margin-bottom: 16px; }
h1 { font-size: 24px; font-weight: 700; margin: 0 0 12px; }
p { font-size: 16px; margin: 0 0 32px; color: #34469a; }
a.reload { display: inline-block; padding: 10px 32px; border-radius: 8px; background: #34469a; color: #ffffff;
  font-size: 16px; font-weight: 700; text-decoration: none; }
a.reload:hover, a.reload:focus { background: #1b2452; }
.address { margin-top: 28px; font-size: 12px; color: #7a80a6; word-break: break-all; }
)";

// The icon's flame, gone grey.
constexpr const char* kFlame =
    R"(<svg viewBox="0 0 96 160" aria-hidden="true"><path fill="#c5c9dd" d="M48 0C70 38 96 62 96 102)"
    R"(C96 130 74 150 48 150C22 150 0 130 0 102C0 62 26 38 48 0Z"/><path fill="#f3f4fb" d="M48 68)"
    R"(C58 86 70 96 70 116C70 129 60 138 48 138C36 138 26 129 26 116C26 96 38 86 48 68Z"/></svg>)";

}  // namespace

const char* UnreachablePage::reasonText(Reason reason) {
    switch (reason) {
    case Reason::offline: return "インターネットに接続されていません";
    case Reason::insecure: return "安全な接続を確立できません";
    case Reason::serverUnreachable: break;
    }
    return "サーバーに接続できません";
}

std::string UnreachablePage::html(Reason reason, const Url& failedURL) {
    const std::string address = escaped(failedURL.string());
    std::string page = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n";
    page += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n";
    page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page += std::string("<title>") + kHeading + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<main>\n";
    page += kFlame;
    page += std::string("\n<h1>") + kHeading + "</h1>\n<p>" + reasonText(reason) + "</p>\n";
    page += "<a class=\"reload\" role=\"button\" href=\"" + address + "\">" + kReloadButton + "</a>\n";
    page += "<div class=\"address\">" + address + "</div>\n</main>\n</body>\n</html>\n";
    return page;
}

}  // namespace orvan
