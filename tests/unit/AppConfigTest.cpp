#include <gtest/gtest.h>

#include <memory>

#include "app/AppConfig.h"
#include "tests/fakes/FakeInfoDictionary.h"

namespace orvan {
namespace {

using testing::FakeInfoDictionary;

class AppConfigTest : public ::testing::Test {
protected:
    AppConfig configWith(std::optional<std::string> appURL) {
        auto info = std::make_shared<FakeInfoDictionary>();
        if (appURL) info->strings[AppConfig::kAppURLKey] = *appURL;
        info_ = info;
        return AppConfig(info);
    }
    std::shared_ptr<FakeInfoDictionary> info_;
};

TEST_F(AppConfigTest, AppURLFallsBackToProductionWhenMissingEmptyOrUnparsable) {
    EXPECT_EQ(configWith(std::nullopt).appURL().string(), AppConfig::kProductionOrigin);
    EXPECT_EQ(configWith("").appURL().string(), AppConfig::kProductionOrigin);
    EXPECT_EQ(configWith("not a url").appURL().string(), AppConfig::kProductionOrigin);
}

TEST_F(AppConfigTest, AppURLTakesAnyParsableValueUnchangedAndReadsTheBundleEachTime) {
    const AppConfig config = configWith("http://127.0.0.1:8741/start");
    EXPECT_EQ(config.appURL().string(), "http://127.0.0.1:8741/start");
    info_->strings[AppConfig::kAppURLKey] = "https://preview.tomoriva.jp";
    EXPECT_EQ(config.appURL().string(), "https://preview.tomoriva.jp");
    EXPECT_EQ(info_->reads, 2);
}

TEST_F(AppConfigTest, StaysInWebViewHostRules) {
    const AppConfig config = configWith("http://localhost:3000");
    EXPECT_FALSE(config.staysInWebView(std::nullopt));
    EXPECT_TRUE(config.staysInWebView("LOCALHOST"));
    EXPECT_TRUE(config.staysInWebView("APP.Tomoriva.JP"));
    EXPECT_TRUE(config.staysInWebView("preview.tomoriva.jp"));
    EXPECT_TRUE(config.staysInWebView("abcdef.supabase.co"));
    EXPECT_TRUE(config.staysInWebView("x.y.Supabase.co"));
    EXPECT_FALSE(config.staysInWebView("supabase.co"));
    EXPECT_FALSE(config.staysInWebView("evilsupabase.co"));
    EXPECT_TRUE(config.staysInWebView("accounts.google.com"));
    EXPECT_TRUE(config.staysInWebView("Accounts.YouTube.com"));
    EXPECT_FALSE(config.staysInWebView("mail.google.com"));
    EXPECT_FALSE(config.staysInWebView("tomoriva.jp"));
    EXPECT_FALSE(config.staysInWebView(""));
}

TEST_F(AppConfigTest, ConfiguredAppHostIsAcceptedByTheHostTestButNotByInternalURL) {
    const AppConfig config = configWith("http://127.0.0.1:8741");
    EXPECT_TRUE(config.staysInWebView("127.0.0.1"));
    EXPECT_FALSE(config.internalURL("/calendar"));
    EXPECT_FALSE(config.internalURL("http://127.0.0.1:8741/calendar"));
}

TEST_F(AppConfigTest, InternalURLResolvesTrimmedPathsAgainstAProductionAppURL) {
    const AppConfig config = configWith(std::nullopt);
    const auto url = config.internalURL("  /calendar \n");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->string(), "https://app.tomoriva.jp/calendar");
    EXPECT_EQ(config.internalURL("/chat/42?x=1")->string(), "https://app.tomoriva.jp/chat/42?x=1");
}

TEST_F(AppConfigTest, InternalURLRejectsEmptyHttpForeignAndProtocolRelativeLinks) {
    const AppConfig config = configWith(std::nullopt);
    EXPECT_FALSE(config.internalURL(""));
    EXPECT_FALSE(config.internalURL(" \t\n "));
    EXPECT_FALSE(config.internalURL("http://app.tomoriva.jp/calendar"));
    EXPECT_FALSE(config.internalURL("https://evil.example/calendar"));
    EXPECT_FALSE(config.internalURL("//evil.example/calendar"));
    EXPECT_FALSE(config.internalURL("https://x.supabase.co/"));
    EXPECT_FALSE(config.internalURL("https://accounts.google.com/"));
    EXPECT_FALSE(config.internalURL("mailto:someone@tomoriva.jp"));
}

TEST_F(AppConfigTest, InternalURLAcceptsFullLinksOnTrustedHostsKeepingTheirLetterCase) {
    const AppConfig config = configWith(std::nullopt);
    const auto url = config.internalURL("HTTPS://Preview.Tomoriva.JP/Tasks");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host(), "Preview.Tomoriva.JP");
    EXPECT_EQ(url->path(), "/Tasks");
}

TEST(OriginTest, SchemeHostAndOnlyAnExplicitPort) {
    EXPECT_EQ(origin(*Url::parse("https://app.tomoriva.jp/chat?x=1")), "https://app.tomoriva.jp");
    EXPECT_EQ(origin(*Url::parse("http://127.0.0.1:8741/")), "http://127.0.0.1:8741");
    EXPECT_EQ(origin(*Url::parse("https://app.tomoriva.jp:443/")), "https://app.tomoriva.jp:443");
    EXPECT_EQ(origin(*Url::parse("http://[::1]:9000/x")), "http://[::1]:9000");
}

TEST(OriginTest, WithoutAHostTheWholeURL) {
    EXPECT_EQ(origin(*Url::parse("mailto:a@b.jp")), "mailto:a@b.jp");
    EXPECT_EQ(origin(*Url::parse("about:blank")), "about:blank");
}

}  // namespace
}  // namespace orvan
