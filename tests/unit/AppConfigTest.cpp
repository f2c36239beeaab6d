#include <gtest/gtest.h>

#include <memory>

#include "app/AppConfig.h"
#include "tests/fakes/FakeInfoDictionary.h"

namespace orvan {
namespace {

AppConfig configWith(std::optional<std::string> appURL, std::shared_ptr<testing::FakeInfoDictionary> info =
                                                            std::make_shared<testing::FakeInfoDictionary>()) {
    if (appURL) info->strings[AppConfig::kAppURLKey] = *appURL;
    return AppConfig(info);
}

TEST(AppConfigTest, TheAppURLIsReadEachTimeAndFallsBackToProductionWhenMissingEmptyOrUnparsable) {
    for (const auto& value : {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("not a url")})
        EXPECT_EQ(configWith(value).appURL().string(), "https://app.tomoriva.jp") << value.value_or("(none)");
    auto info = std::make_shared<testing::FakeInfoDictionary>();
    const AppConfig config = configWith("http://127.0.0.1:8741/start", info);
    EXPECT_EQ(config.appURL().string(), "http://127.0.0.1:8741/start");
    info->strings[AppConfig::kAppURLKey] = "https://preview.tomoriva.jp";
    EXPECT_EQ(config.appURL().string(), "https://preview.tomoriva.jp");
}

TEST(AppConfigTest, WhichHostsStayInTheWebView) {
    const AppConfig config = configWith("http://localhost:3000");
    for (const char* host : {"LOCALHOST", "APP.Tomoriva.JP", "preview.tomoriva.jp", "abcdef.supabase.co", "x.y.Supabase.co",
                             "accounts.google.com", "Accounts.YouTube.com"})
        EXPECT_TRUE(config.staysInWebView(host)) << host;
    for (const char* host : {"supabase.co", "evilsupabase.co", "mail.google.com", "tomoriva.jp", ""})
        EXPECT_FALSE(config.staysInWebView(host)) << host;
    EXPECT_FALSE(config.staysInWebView(std::nullopt));
}

TEST(AppConfigTest, InternalURLsAreTrimmedPathsOrHttpsLinksOnTheApplicationsOwnHosts) {
    const AppConfig production = configWith(std::nullopt);
    EXPECT_EQ(production.internalURL("  /calendar \n")->string(), "https://app.tomoriva.jp/calendar");
    EXPECT_EQ(production.internalURL("/chat/42?x=1")->string(), "https://app.tomoriva.jp/chat/42?x=1");
    const auto kept = production.internalURL("HTTPS://Preview.Tomoriva.JP/Tasks");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->host(), "Preview.Tomoriva.JP") << "letter case kept";
    EXPECT_EQ(kept->path(), "/Tasks");
    for (const char* refused : {"", " \t\n ", "http://app.tomoriva.jp/calendar", "https://evil.example/calendar",
                                "//evil.example/calendar", "https://x.supabase.co/", "https://accounts.google.com/",
                                "mailto:someone@tomoriva.jp"})
        EXPECT_FALSE(production.internalURL(refused)) << refused;

    // A configured app host stays in the view but is no internal URL, not even its paths.
    const AppConfig local = configWith("http://127.0.0.1:8741");
    EXPECT_TRUE(local.staysInWebView("127.0.0.1"));
    EXPECT_FALSE(local.internalURL("/calendar"));
    EXPECT_FALSE(local.internalURL("http://127.0.0.1:8741/calendar"));
}

TEST(OriginTest, SchemeHostAndOnlyAnExplicitPortOrWithoutAHostTheWholeURL) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://app.tomoriva.jp/chat?x=1", "https://app.tomoriva.jp"},
        {"http://127.0.0.1:8741/", "http://127.0.0.1:8741"},
        {"https://app.tomoriva.jp:443/", "https://app.tomoriva.jp:443"},
        {"http://[::1]:9000/x", "http://[::1]:9000"},
        {"mailto:a@b.jp", "mailto:a@b.jp"},
        {"about:blank", "about:blank"},
    };
    for (const auto& [url, expected] : cases) EXPECT_EQ(origin(*Url::parse(url)), expected) << url;
}

}  // namespace
}  // namespace orvan
