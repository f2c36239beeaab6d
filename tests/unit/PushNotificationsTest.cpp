// Device-token registration through the page, and opened notifications, as scripts: each scenario is
// its steps and the whole trace they leave (what the page was asked to send, what was stored,
// what was posted to the application).
#include <gtest/gtest.h>

#include <memory>

#include "push/PushNotifications.h"
#include "tests/support/ScriptCase.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeInfoDictionary.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeUserDefaults.h"
#include "tests/fakes/FakeWebView.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using Key = PushNotifications;
using nlohmann::json;

class CountingRemote final : public RemoteNotifications {
public:
    void registerForRemoteNotifications() override { ++registrations; }
    int registrations = 0;
};

// Steps: "registered <hex>" (what is stored), "token <hex>" (the service hands one over), "at <url>"
// (the view's page), "sync" (a navigation finished), "answer <json>" (the page's answer to the oldest
// call), "state", "notify <json>", "pending", "auth denied|notDetermined|grants|refuses", "ask".
using PushScript = testing::ScriptCase;
using testing::scriptNumber;

class PushNotificationsTest : public ::testing::TestWithParam<PushScript> {
protected:
    PushNotificationsTest() {
        tokenReady = center->addObserver("officeAPNsTokenReady", [this](const Notification&) {
            trace.push_back("token ready");
        });
        openURL = center->addObserver("officeOpenInternalURL", [this](const Notification& n) {
            trace.push_back("open " + std::any_cast<Url>(n.object).string());
        });
        view->current = Url::parse("https://app.tomoriva.jp/chat");
    }

    void perform(const std::string& step) {
        const auto space = step.find(' ');
        const std::string word = step.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : step.substr(space + 1);
        const std::size_t calls = view->calls.size();
        const int asked = notifications->requests, registered = remote->registrations;
        if (word == "registered") defaults->values[Key::kRegisteredTokenKey] = rest;
        else if (word == "token") push->didRegister(bytes(rest));
        else if (word == "at") view->current = Url::parse(rest);
        else if (word == "sync") push->syncRegistration(view);
        else if (word == "answer") {
            ASSERT_FALSE(view->calls.empty()) << step;
            auto call = std::move(view->calls.front());
            view->calls.erase(view->calls.begin());
            call.completion(json::parse(rest));
        } else if (word == "state") {
            const auto stored = [&](const char* key) {
                return defaults->values.contains(key) ? defaults->values[key] : std::string("-");
            };
            trace.push_back("device " + stored(Key::kDeviceTokenKey) + ", registered " + stored(Key::kRegisteredTokenKey) +
                            (push->isRegistering() ? ", registering" : ""));
        } else if (word == "notify") push->handleNotification(json::parse(rest));
        else if (word == "pending") trace.push_back("pending " + (push->pendingOpenURL() ? push->pendingOpenURL()->string() : "-"));
        else if (word == "auth") {
            notifications->status = rest == "denied" ? NotificationAuthorization::denied : NotificationAuthorization::notDetermined;
            notifications->grantOnRequest = rest == "grants";
        } else if (word == "ask") push->requestAuthorizationAndRegister();
        else FAIL() << "unknown step " << step;
        loop.runUntilIdle();
        for (std::size_t i = calls; i < view->calls.size(); ++i) {
            const json& arguments = view->calls[i].arguments;
            trace.push_back(arguments["method"].get<std::string>() + " " + arguments["path"].get<std::string>() + " " +
                            arguments["body"].dump());
        }
        if (notifications->requests > asked) trace.push_back("asked");
        if (remote->registrations > registered) trace.push_back("registered with the service");
    }

    static std::vector<std::uint8_t> bytes(const std::string& hex) {
        std::vector<std::uint8_t> result;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            result.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        return result;
    }

    FakeMainLoop loop;
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create(loop);
    std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>();
    std::shared_ptr<FakeUserNotificationCenter> notifications = std::make_shared<FakeUserNotificationCenter>();
    std::shared_ptr<CountingRemote> remote = std::make_shared<CountingRemote>();
    std::shared_ptr<PushNotifications> push = std::make_shared<PushNotifications>(PushNotifications::Dependencies{
        .center = center,
        .config = std::make_shared<AppConfig>(std::make_shared<FakeInfoDictionary>()),
        .defaults = defaults,
        .notifications = notifications,
        .remote = remote,
        .mainLoop = &loop,
        .bundleId = "jp.tomoriva.OrvanOffice",
    });
    std::shared_ptr<FakeWebView> view = std::make_shared<FakeWebView>();
    std::vector<std::string> trace;
    ObserverToken tokenReady;
    ObserverToken openURL;
};

TEST_P(PushNotificationsTest, LeavesTheTrace) {
    for (const auto& step : GetParam().steps) perform(step);
    EXPECT_EQ(trace, GetParam().trace);
}

// Linux hands over no device token, so this path only runs where a push service does: its logic once.
const std::string kPost =
    R"(POST /api/push/apns/register {"bundleId":"jp.tomoriva.OrvanOffice","deviceToken":"01ab","environment":"production"})";

INSTANTIATE_TEST_SUITE_P(Scripts, PushNotificationsTest, ::testing::Values(
    PushScript{"a new token is registered once accepted, and unregistered on the sign-in page",
        {"registered 0aff", "token 0aff", "state", "token 01ab", "sync", "state", R"(answer {"ok": true, "status": 200, "json": {"ok": true}})",
         "state", "sync", "at https://app.tomoriva.jp/auth/login?error=auth_failed", "sync", R"(answer {"ok": false, "status": 401})",
         "state"},
        {"token ready", "device 0aff, registered 0aff", "token ready", kPost, "device 01ab, registered -, registering",
         "device 01ab, registered 01ab", R"(DELETE /api/push/apns/register {"deviceToken":"01ab"})", "device 01ab, registered -"}},
    // Which addresses are the application's own is AppConfigTest's table.
    PushScript{"opened notifications open their own addresses only",
        {R"(notify {"url": "/calendar"})", R"(notify {"url": "https://preview.tomoriva.jp/chat/1"})",
         R"(notify {"url": "https://evil.example/x"})", R"(notify {"url": 42})", R"(notify {"other": "/x"})", "notify []",
         "pending"},
        {"open https://app.tomoriva.jp/calendar", "open https://preview.tomoriva.jp/chat/1",
         "pending https://preview.tomoriva.jp/chat/1"}},
    PushScript{"authorization decides whether to register with the service",
        {"auth denied", "ask", "auth refuses", "ask", "auth grants", "ask", "ask"},
        {"asked", "asked", "registered with the service", "registered with the service"}}),
    scriptNumber);

}  // namespace
}  // namespace orvan
