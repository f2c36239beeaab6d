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

class NavigationPolicyTest : public ::testing::Test {
protected:
    NavigationPolicyTest() {
        info->strings[AppConfig::kAppURLKey] = "https://app.tomoriva.jp";
        policy = std::make_unique<NavigationPolicy>(std::make_shared<AppConfig>(info), opener);
    }

    // The decision, or nullopt while it still waits.
    std::optional<bool> decide(const std::optional<std::string>& url) {
        std::optional<bool> decision;
        policy->decide(url, [&](bool allow) {
            EXPECT_FALSE(decision.has_value()) << "decided twice";
            decision = allow;
        });
        return decision;
    }

    std::shared_ptr<FakeInfoDictionary> info = std::make_shared<FakeInfoDictionary>();
    std::shared_ptr<FakeUrlOpener> opener = std::make_shared<FakeUrlOpener>();
    std::unique_ptr<NavigationPolicy> policy;
};

TEST_F(NavigationPolicyTest, TheApplicationAndItsSignInPagesStay) {
    for (const char* url : {"https://app.tomoriva.jp/chat", "https://APP.TOMORIVA.JP/x", "https://preview.tomoriva.jp/",
                            "https://abc.supabase.co/auth/v1/authorize", "https://accounts.google.com/o/oauth2",
                            "https://accounts.youtube.com/accounts/SetSID", "about:blank", "about:srcdoc",
                            "orvan-rec://file/x.m4a"}) {
        EXPECT_EQ(decide(url), true) << url;
    }
    EXPECT_EQ(decide(std::nullopt), true) << "no URL: allowed";
    EXPECT_TRUE(opener->opened.empty());
}

TEST_F(NavigationPolicyTest, OutsideLinksGoToTheDesktopAndAreCancelledOnlyOnceOpened) {
    const std::vector<std::string> urls = {"https://supabase.co/", "https://mail.google.com/", "http://example.com/a",
                                           "mailto:someone@example.com", "tel:+81312345678", "HTTPS://example.com/"};
    std::vector<bool> decisions;
    for (const auto& url : urls) policy->decide(url, [&](bool allow) { decisions.push_back(allow); });
    EXPECT_TRUE(decisions.empty()) << "each waits for its open call";
    ASSERT_EQ(opener->opened.size(), urls.size());
    EXPECT_EQ(opener->opened[3], "mailto:someone@example.com");
    opener->finishAll();
    EXPECT_EQ(decisions, std::vector<bool>(urls.size(), false));
}

TEST_F(NavigationPolicyTest, OtherSchemesAreCancelledAndNeverHandedOver) {
    for (const char* url : {"javascript:alert(1)", "data:text/html,<b>x</b>", "blob:https://app.tomoriva.jp/1234",
                            "file:///etc/passwd", "zoommtg://join", "ABOUT:blank", "Orvan-Rec://file/x"}) {
        EXPECT_EQ(decide(url), false) << url;
    }
    EXPECT_TRUE(opener->opened.empty());
}

TEST_F(NavigationPolicyTest, AConfiguredAppHostInAnotherLetterCaseNavigatesButGetsNoMedia) {
    info->strings[AppConfig::kAppURLKey] = "http://LocalHost:3000";
    EXPECT_EQ(decide("http://localhost:3000/calendar"), true);
    const Url appURL = *Url::parse("http://LocalHost:3000");
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("localhost", appURL));
    EXPECT_TRUE(NavigationPolicy::allowsMediaCapture("LocalHost", appURL));
}

TEST(MediaCaptureTest, OnlyTheAppHostExactly) {
    const Url appURL = *Url::parse("https://app.tomoriva.jp");
    EXPECT_TRUE(NavigationPolicy::allowsMediaCapture("app.tomoriva.jp", appURL));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("APP.tomoriva.jp", appURL));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("accounts.google.com", appURL));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture(std::nullopt, appURL));
    EXPECT_FALSE(NavigationPolicy::allowsMediaCapture("a", *Url::parse("mailto:a@b.jp")));
}

class SignInRecoveryTest : public ::testing::Test {
protected:
    std::vector<std::string> recover(const std::optional<std::string>& failing, const std::optional<std::string>& current) {
        view->current = current ? Url::parse(*current) : std::nullopt;
        view->loads.clear();
        NavigationPolicy::recoverFromFailedNavigation(view, failing ? Url::parse(*failing) : std::nullopt, appURL, loop);
        EXPECT_TRUE(view->loads.empty()) << "the load waits for its own task";
        loop.runUntilIdle();
        std::vector<std::string> urls;
        for (const auto& load : view->loads) urls.push_back(load.url);
        return urls;
    }

    FakeMainLoop loop;
    std::shared_ptr<FakeWebView> view = std::make_shared<FakeWebView>();
    Url appURL = *Url::parse("https://app.tomoriva.jp");
    const std::vector<std::string> errorPage{"https://app.tomoriva.jp/auth/login?error=auth_failed"};
};

TEST_F(SignInRecoveryTest, SignInAddressesLeadBackToTheLoginErrorPage) {
    EXPECT_EQ(recover("https://app.tomoriva.jp/auth/callback?code=1", "https://app.tomoriva.jp/"), errorPage);
    EXPECT_EQ(recover("https://other.example/auth/x", std::nullopt), errorPage) << "any host";
    EXPECT_EQ(recover("https://ACCOUNTS.Google.com/o", std::nullopt), errorPage);
    EXPECT_EQ(recover("https://www.googleapis.com/x", std::nullopt), errorPage);
    EXPECT_EQ(view->loads.at(0).timeout, std::chrono::seconds(60));
}

TEST_F(SignInRecoveryTest, ElsewhereNothingChanges) {
    EXPECT_TRUE(recover("https://app.tomoriva.jp/chat", "https://app.tomoriva.jp/auth/x").empty())
        << "the failing URL decides, not the current one";
    EXPECT_TRUE(recover("https://app.tomoriva.jp/authx", std::nullopt).empty());
    EXPECT_TRUE(recover(std::nullopt, std::nullopt).empty());
}

TEST_F(SignInRecoveryTest, WithoutAFailingURLTheCurrentOneIsJudged) {
    EXPECT_EQ(recover(std::nullopt, "https://app.tomoriva.jp/auth/callback"), errorPage);
    EXPECT_TRUE(recover(std::nullopt, "https://app.tomoriva.jp/tasks").empty());
}

TEST_F(SignInRecoveryTest, TheLoginErrorPageFailingItselfDoesNotLoop) {
    EXPECT_TRUE(recover("https://app.tomoriva.jp/auth/login?error=auth_failed", std::nullopt).empty());
    EXPECT_EQ(recover("https://app.tomoriva.jp/auth/login", std::nullopt), errorPage);
}

}  // namespace
}  // namespace orvan
