// The small pure pieces the routes lean on, checked directly where HTTP would blur the cause.

#include <gtest/gtest.h>

#include "tools/webapp/HtmlEscape.h"
#include "tools/webapp/Session.h"

namespace orvan::webapp {
namespace {

TEST(EscapeHtml, EscapesAllFiveMarkupCharacters)
{
    EXPECT_EQ(escapeHtml(R"(<a href="x" title='y'>&</a>)"),
        "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;&lt;/a&gt;");
}

TEST(EscapeHtml, LeavesOtherTextAlone)
{
    EXPECT_EQ(escapeHtml("議事録 /meeting-notes?mode=desktop-app"), "議事録 /meeting-notes?mode=desktop-app");
    EXPECT_EQ(escapeHtml(""), "");
}

TEST(EscapeHtml, EscapesAnAlreadyEscapedEntityAgain)
{
    EXPECT_EQ(escapeHtml("&amp;"), "&amp;amp;");
}

TEST(SafeNextPath, KeepsPathsOnThisOrigin)
{
    EXPECT_EQ(safeNextPath(std::string("/chat")), "/chat");
    EXPECT_EQ(safeNextPath(std::string("/tasks?view=mine#top")), "/tasks?view=mine#top");
    EXPECT_EQ(safeNextPath(std::string("/")), "/");
}

TEST(SafeNextPath, FallsBackToTheStartPage)
{
    EXPECT_EQ(safeNextPath(std::nullopt), "/");
    EXPECT_EQ(safeNextPath(std::string("")), "/");
    EXPECT_EQ(safeNextPath(std::string("//evil.example")), "/");
    EXPECT_EQ(safeNextPath(std::string("/\\evil.example")), "/");
    EXPECT_EQ(safeNextPath(std::string("https://evil.example/")), "/");
    EXPECT_EQ(safeNextPath(std::string("chat")), "/");
    EXPECT_EQ(safeNextPath(std::string("/chat\r\nSet-Cookie: x=1")), "/");
}

TEST(CookieValue, FindsTheNamedCookieAmongOthers)
{
    EXPECT_EQ(cookieValue("theme=dark; orvan_session=abc123; lang=ja", "orvan_session"), "abc123");
    EXPECT_EQ(cookieValue("orvan_session=abc123", "orvan_session"), "abc123");
    EXPECT_EQ(cookieValue("  orvan_session = abc ;", "orvan_session"), "abc");
}

TEST(CookieValue, DoesNotMatchAPrefixOrSuffixOfTheName)
{
    EXPECT_FALSE(cookieValue("xorvan_session=abc; orvan_session_old=def", "orvan_session").has_value());
    EXPECT_FALSE(cookieValue("", "orvan_session").has_value());
    EXPECT_FALSE(cookieValue("orvan_session", "orvan_session").has_value());
}

TEST(SessionId, IsLongHexAndUnique)
{
    const auto a = newSessionId();
    const auto b = newSessionId();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos) << a;
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace orvan::webapp
