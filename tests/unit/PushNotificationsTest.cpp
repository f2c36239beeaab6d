#include <gtest/gtest.h>

#include <memory>

#include "push/PushNotifications.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeInfoDictionary.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeUserDefaults.h"
#include "tests/fakes/FakeWebView.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using Key = PushNotifications;

class CountingRemote final : public RemoteNotifications {
public:
    void registerForRemoteNotifications() override { ++registrations; }
    int registrations = 0;
};

class PushNotificationsTest : public ::testing::Test {
protected:
    PushNotificationsTest() {
        center = NotificationCenter::create(loop);
        push = std::make_shared<PushNotifications>(PushNotifications::Dependencies{
            .center = center,
            .config = std::make_shared<AppConfig>(std::make_shared<FakeInfoDictionary>()),
            .defaults = defaults,
            .notifications = notifications,
            .remote = remote,
            .mainLoop = &loop,
            .bundleId = "jp.tomoriva.OrvanOffice",
        });
        tokenReady = center->addObserver("officeAPNsTokenReady", [this](const Notification&) { ++tokenReadyCount; });
        openURL = center->addObserver("officeOpenInternalURL", [this](const Notification& n) {
            opened.push_back(std::any_cast<Url>(n.object).string());
        });
        view->current = Url::parse("https://app.tomoriva.jp/chat");
    }

    // Completes the oldest waiting script call with the page's answer (a string: the call failed).
    void complete(WebView::ScriptResult result) {
        ASSERT_FALSE(view->calls.empty());
        auto call = std::move(view->calls.front());
        view->calls.erase(view->calls.begin());
        call.completion(std::move(result));
        loop.runUntilIdle();
    }
    void answer(const nlohmann::json& result) { complete(result); }

    void sync() {
        push->syncRegistration(view);
        loop.runUntilIdle();
    }

    FakeMainLoop loop;
    std::shared_ptr<NotificationCenter> center;
    std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>();
    std::shared_ptr<FakeUserNotificationCenter> notifications = std::make_shared<FakeUserNotificationCenter>();
    std::shared_ptr<CountingRemote> remote = std::make_shared<CountingRemote>();
    std::shared_ptr<PushNotifications> push;
    std::shared_ptr<FakeWebView> view = std::make_shared<FakeWebView>();
    ObserverToken tokenReady;
    ObserverToken openURL;
    int tokenReadyCount = 0;
    std::vector<std::string> opened;
};

TEST_F(PushNotificationsTest, ANewTokenClearsTheRegisteredOneAndTheSameTokenKeepsIt) {
    defaults->values[Key::kRegisteredTokenKey] = "0aff";
    push->didRegister({0x0a, 0xff});
    loop.runUntilIdle();
    EXPECT_EQ(defaults->values[Key::kDeviceTokenKey], "0aff");
    EXPECT_EQ(defaults->values.count(Key::kRegisteredTokenKey), 1u);
    push->didRegister({0x0a, 0xff});
    loop.runUntilIdle();
    EXPECT_EQ(tokenReadyCount, 2);
    sync();
    EXPECT_TRUE(view->calls.empty()) << "already registered: no POST";

    push->didRegister({0x01, 0xAB});
    loop.runUntilIdle();
    EXPECT_EQ(defaults->values.count(Key::kRegisteredTokenKey), 0u);
    EXPECT_EQ(tokenReadyCount, 3);
    sync();
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].arguments["body"]["deviceToken"], "01ab");
}

TEST_F(PushNotificationsTest, RegisterSendsThePostAndStoresOnlyAnAcceptedToken) {
    defaults->values[Key::kDeviceTokenKey] = "abcd";
    sync();
    ASSERT_EQ(view->calls.size(), 1u);
    const auto& call = view->calls[0];
    EXPECT_EQ(call.arguments["path"], "/api/push/apns/register");
    EXPECT_EQ(call.arguments["method"], "POST");
    EXPECT_EQ(call.arguments["body"], (nlohmann::json{{"deviceToken", "abcd"}, {"environment", "production"},
                                                      {"bundleId", "jp.tomoriva.OrvanOffice"}}));
    EXPECT_TRUE(push->isRegistering());
    answer({{"ok", true}, {"status", 200}, {"json", {{"ok", true}}}});
    EXPECT_FALSE(push->isRegistering());
    EXPECT_EQ(defaults->values[Key::kRegisteredTokenKey], "abcd");
}

TEST_F(PushNotificationsTest, RegistrationOutcomesThatDoNotCount) {
    defaults->values[Key::kDeviceTokenKey] = "abcd";
    const std::vector<std::pair<const char*, nlohmann::json>> answers = {
        {"200 with ok false", {{"ok", true}, {"status", 200}, {"json", {{"ok", false}}}}},
        {"empty body", {{"ok", true}, {"status", 200}, {"json", nullptr}}},
        {"ok not a boolean", {{"ok", true}, {"status", 200}, {"json", {{"ok", "yes"}}}}},
        {"401", {{"ok", false}, {"status", 401}, {"json", {{"ok", true}}}}},
        {"401.9 reads as 401", {{"ok", false}, {"status", 401.9}}},
        {"not an object", nlohmann::json::array()},
    };
    for (const auto& [what, result] : answers) {
        sync();
        ASSERT_EQ(view->calls.size(), 1u) << what;
        answer(result);
        EXPECT_EQ(defaults->values.count(Key::kRegisteredTokenKey), 0u) << what;
        EXPECT_FALSE(push->isRegistering()) << what;
    }
    sync();
    complete(std::string("TypeError: Load failed"));
    EXPECT_EQ(defaults->values.count(Key::kRegisteredTokenKey), 0u);
    EXPECT_FALSE(push->isRegistering());
}

TEST_F(PushNotificationsTest, TwoNavigationsFinishingAtOnceGiveOnePost) {
    defaults->values[Key::kDeviceTokenKey] = "abcd";
    push->syncRegistration(view);
    push->syncRegistration(view);
    loop.runUntilIdle();
    EXPECT_EQ(view->calls.size(), 1u);
    answer({{"ok", true}, {"status", 200}, {"json", {{"ok", true}}}});
    sync();
    EXPECT_TRUE(view->calls.empty());
}

TEST_F(PushNotificationsTest, TheSignInPageUnregistersAndForgetsOnSuccessOr401) {
    defaults->values[Key::kDeviceTokenKey] = "abcd";
    defaults->values[Key::kRegisteredTokenKey] = "abcd";
    view->current = Url::parse("https://app.tomoriva.jp/auth/login?error=auth_failed");
    sync();
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].arguments["method"], "DELETE");
    EXPECT_EQ(view->calls[0].arguments["body"], (nlohmann::json{{"deviceToken", "abcd"}}));
    answer({{"ok", false}, {"status", 500}, {"json", nullptr}});
    EXPECT_EQ(defaults->values.count(Key::kRegisteredTokenKey), 1u) << "a failed DELETE keeps it for later";

    sync();
    answer({{"ok", false}, {"status", 401}, {"json", nullptr}});
    EXPECT_EQ(defaults->values.count(Key::kRegisteredTokenKey), 0u);

    sync();
    EXPECT_TRUE(view->calls.empty()) << "nothing registered: nothing sent";

    defaults->values[Key::kRegisteredTokenKey] = "abcd";
    view->current = Url::parse("https://app.tomoriva.jp/auth/loginx");
    sync();
    answer({{"ok", true}, {"status", 204}});
    EXPECT_EQ(defaults->values.count(Key::kRegisteredTokenKey), 0u) << "plain prefix test; DELETE counts when ok";
}

TEST_F(PushNotificationsTest, NothingIsSentFromForeignHostsOrWithoutAURL) {
    defaults->values[Key::kDeviceTokenKey] = "abcd";
    for (const char* url : {"https://accounts.google.com/x", "http://127.0.0.1:8741/", "https://x.supabase.co/"}) {
        view->current = Url::parse(url);
        sync();
    }
    view->current.reset();
    sync();
    EXPECT_TRUE(view->calls.empty());
    view->current = Url::parse("https://PREVIEW.tomoriva.jp/tasks");
    sync();
    EXPECT_EQ(view->calls.size(), 1u);
}

// Which addresses are the application's own is AppConfigTest's table.
TEST_F(PushNotificationsTest, OpenedNotificationURLs) {
    push->handleNotification({{"url", "/calendar"}});
    push->handleNotification({{"url", "https://preview.tomoriva.jp/chat/1"}});
    push->handleNotification({{"url", "https://evil.example/x"}});
    push->handleNotification({{"url", 42}});
    push->handleNotification({{"other", "/x"}});
    push->handleNotification(nlohmann::json::array());
    loop.runUntilIdle();
    EXPECT_EQ(opened, (std::vector<std::string>{"https://app.tomoriva.jp/calendar", "https://preview.tomoriva.jp/chat/1"}));
    EXPECT_EQ(push->pendingOpenURL()->string(), "https://preview.tomoriva.jp/chat/1");
}

TEST_F(PushNotificationsTest, AuthorizationDecidesWhetherToRegisterWithTheService) {
    notifications->status = NotificationAuthorization::denied;
    push->requestAuthorizationAndRegister();
    loop.runUntilIdle();
    EXPECT_EQ(remote->registrations, 0);
    EXPECT_EQ(notifications->requests, 0);

    notifications->status = NotificationAuthorization::notDetermined;
    notifications->grantOnRequest = false;
    push->requestAuthorizationAndRegister();
    loop.runUntilIdle();
    EXPECT_EQ(notifications->requests, 1);
    EXPECT_EQ(remote->registrations, 0);

    notifications->grantOnRequest = true;
    push->requestAuthorizationAndRegister();
    loop.runUntilIdle();
    EXPECT_EQ(remote->registrations, 1);

    push->requestAuthorizationAndRegister();  // now authorized: no question asked
    loop.runUntilIdle();
    EXPECT_EQ(notifications->requests, 2);
    EXPECT_EQ(remote->registrations, 2);
}

}  // namespace
}  // namespace orvan
