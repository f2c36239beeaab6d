#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeInfoDictionary.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeWebView.h"
#include "webhost/NavigationPolicy.h"

namespace orvan {
namespace {

using namespace orvan::testing;

// What becomes of a navigation: "stay" (allowed), "desktop" (handed to the desktop's browser and
// cancelled once that open call has returned) or "cancel" (neither).
std::string fate(const std::string& appURL, const std::optional<std::string>& url) {
    auto info = std::make_shared<FakeInfoDictionary>();
    info->strings[AppConfig::kAppURLKey] = appURL;
    auto opener = std::make_shared<FakeUrlOpener>();
    NavigationPolicy policy(std::make_shared<AppConfig>(info), opener);
    std::vector<bool> decisions;
    policy.decide(url, [&](bool allow) { decisions.push_back(allow); });
    if (opener->opened.empty()) {
        return decisions == std::vector{true} ? "stay" : decisions == std::vector{false} ? "cancel" : "?";
    }
    if (!decisions.empty() || opener->opened != std::vector{*url}) return "decided before the open call";
    opener->finishAll();
    return decisions == std::vector{false} ? "desktop" : "?";
}

TEST(NavigationPolicyTest, TheAppAndItsSignInPagesStayOutsideLinksGoToTheDesktopOtherSchemesAreCancelled) {
    const std::string app = "https://app.tomoriva.jp";
    const std::vector<std::tuple<std::string, std::optional<std::string>, std::string>> rows = {
        // Which hosts stay is AppConfigTest's table.
        {app, "https://app.tomoriva.jp/chat", "stay"},
        {app, "about:blank", "stay"},
        {app, "about:srcdoc", "stay"},
        {app, "orvan-rec://file/x.m4a", "stay"},
        {app, std::nullopt, "stay"},
        {app, "http://example.com/a", "desktop"},
        {app, "mailto:someone@example.com", "desktop"},
        {app, "tel:+81312345678", "desktop"},
        {app, "HTTPS://example.com/", "desktop"},
        {app, "javascript:alert(1)", "cancel"},
        {app, "data:text/html,<b>x</b>", "cancel"},
        {app, "blob:https://app.tomoriva.jp/1234", "cancel"},
        {app, "file:///etc/passwd", "cancel"},
        {app, "zoommtg://join", "cancel"},
        {app, "ABOUT:blank", "cancel"},
        {app, "Orvan-Rec://file/x", "cancel"},
    };
    for (const auto& [appURL, url, expected] : rows) EXPECT_EQ(fate(appURL, url), expected) << url.value_or("(none)");
}

TEST(NavigationPolicyTest, OnlyTheAppHostExactlyGetsMedia) {
    const Url app = *Url::parse("https://app.tomoriva.jp");
    const Url local = *Url::parse("http://LocalHost:3000");
    EXPECT_TRUE(NavigationPolicy::allowsMediaCapture("app.tomoriva.jp", app));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("APP.tomoriva.jp", app));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("accounts.google.com", app));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture(std::nullopt, app));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("a", *Url::parse("mailto:a@b.jp")));
    EXPECT_TRUE(NavigationPolicy::allowsMediaCapture("LocalHost", local));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("localhost", local));
}

// After a failed navigation: the failing address decides (else the current one); sign-in addresses
// on any host lead back to the login error page, in a task of its own, and that page failing itself
// does not loop.
TEST(SignInRecoveryTest, SignInAddressesLeadBackToTheLoginErrorPageAndNothingElseChanges) {
    const std::string errorPage = "https://app.tomoriva.jp/auth/login?error=auth_failed";
    const std::vector<std::tuple<std::optional<std::string>, std::optional<std::string>, std::string>> rows = {
        {"https://app.tomoriva.jp/auth/callback?code=1", "https://app.tomoriva.jp/", errorPage},
        {"https://other.example/auth/x", std::nullopt, errorPage},
        {"https://ACCOUNTS.Google.com/o", std::nullopt, errorPage},
        {"https://www.googleapis.com/x", std::nullopt, errorPage},
        {"https://app.tomoriva.jp/auth/login", std::nullopt, errorPage},
        {std::nullopt, "https://app.tomoriva.jp/auth/callback", errorPage},
        {"https://app.tomoriva.jp/chat", "https://app.tomoriva.jp/auth/x", "-"},
        {"https://app.tomoriva.jp/authx", std::nullopt, "-"},
        {std::nullopt, std::nullopt, "-"},
        {std::nullopt, "https://app.tomoriva.jp/tasks", "-"},
        {errorPage, std::nullopt, "-"},
    };
    for (const auto& [failing, current, expected] : rows) {
        FakeMainLoop loop;
        auto view = std::make_shared<FakeWebView>();
        view->current = current ? Url::parse(*current) : std::nullopt;
        NavigationPolicy::recoverFromFailedNavigation(view, failing ? Url::parse(*failing) : std::nullopt,
                                                      *Url::parse("https://app.tomoriva.jp"), loop);
        EXPECT_TRUE(view->loads.empty()) << "the load waits for its own task";
        loop.runUntilIdle();
        std::string loaded = "-";
        for (const auto& load : view->loads) loaded = load.url + (load.timeout == std::chrono::seconds(60) ? "" : " (timeout?)");
        EXPECT_EQ(loaded, expected) << failing.value_or("(none)") << " / " << current.value_or("(none)");
    }
}

}  // namespace
}  // namespace orvan
