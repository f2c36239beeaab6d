#include "tools/webapp/Pages.h"

#include "tools/webapp/HtmlEscape.h"

namespace orvan::webapp {
namespace {

constexpr std::string_view kLoginPath = "/auth/login";
constexpr std::string_view kRecordLink = "/meeting-notes/record?mode=desktop-app";

// Every caller-supplied piece goes through escapeHtml here or in the callers; fixed text is ours.
std::string document(std::string_view title, std::string_view path, const std::string& content)
{
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<title>" + escapeHtml(title) + "</title>\n</head>\n<body>\n";
    html += "<header><a id=\"home-link\" href=\"/\">Tomoriva</a></header>\n<main>\n";
    html += "<h1 id=\"page-path\">" + escapeHtml(path) + "</h1>\n";
    html += content;
    html += "</main>\n</body>\n</html>\n";
    return html;
}

std::string link(std::string_view href, std::string_view label)
{
    return "<li><a href=\"" + escapeHtml(href) + "\">" + escapeHtml(label) + "</a></li>\n";
}

}  // namespace

const std::vector<MenuEntry>& menuEntries()
{
    static const std::vector<MenuEntry> entries{
        {"/chat", "チャット"},
        {"/tasks", "タスク"},
        {"/calendar", "カレンダー"},
        {"/agent", "エージェント"},
        {"/meeting-notes", "議事録"},
        {"/pages", "ページ"},
        {"/decks", "スライド"},
        {"/databases", "データベース"},
        {"/decisions", "意思決定"},
        {"/crm", "顧客管理"},
    };
    return entries;
}

bool isMenuPath(std::string_view path)
{
    for (const auto& entry : menuEntries()) {
        if (path == entry.path)
            return true;
        if (path.size() > entry.path.size() && path.substr(0, entry.path.size()) == entry.path
            && path[entry.path.size()] == '/')
            return true;
    }
    return false;
}

std::string startPage()
{
    std::string content = "<nav id=\"menu\"><ul>\n";
    for (const auto& entry : menuEntries())
        content += link(entry.path, entry.label);
    content += "</ul></nav>\n<ul id=\"shortcuts\">\n";
    content += link(kLoginPath, "ログイン");
    content += link(kRecordLink, "会議を録音");
    content += "</ul>\n";
    return document("Tomoriva", "/", content);
}

std::string sectionPage(std::string_view path)
{
    return document(path, path, "<p>このページは準備中です。</p>\n");
}

std::string recordPage(std::string_view path, std::string_view query)
{
    return document(path, path, "<p id=\"record-query\">" + escapeHtml(query) + "</p>\n");
}

std::string loginPage(const std::optional<std::string>& error)
{
    std::string content;
    if (error)
        content += "<p id=\"login-error\" role=\"alert\">" + escapeHtml(*error) + "</p>\n";
    content += "<form id=\"login-form\" method=\"post\" action=\"" + escapeHtml(kLoginPath) + "\">\n";
    content += "<label>ユーザー名 <input name=\"user\" autocomplete=\"username\" required></label>\n";
    content += "<button type=\"submit\">ログイン</button>\n</form>\n";
    return document(kLoginPath, kLoginPath, content);
}

std::string notFoundPage(std::string_view path)
{
    return document(path, path, "<p id=\"not-found\">ページが見つかりません。</p>\n");
}

}  // namespace orvan::webapp
