#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeMainTimers.h"
#include "tests/fakes/FakeNetworkMonitor.h"
#include "tests/fakes/FakeWebView.h"
#include "webhost/OfficeWebView.h"

namespace orvan {
namespace {

using testing::FakeMainLoop;
using testing::FakeWebView;
using testing::FakeWebViewFactory;
namespace names = notification_names;

// Windows built the way the shell builds them, on fakes.
class CoordinatorTest : public ::testing::Test {
protected:
    struct Window {
        std::shared_ptr<Coordinator> coordinator;
        std::shared_ptr<FakeWebView> view;
    };

    // A window whose first load is taken out of `view->loads` into `firstLoad`.
    Window openWindow() {
        const OfficeWebView content(appURL, context);
        auto coordinator = content.makeCoordinator();
        auto view = std::static_pointer_cast<FakeWebView>(content.makeUIView(*coordinator, factory));
        firstLoad = view->loads.at(0).url;
        view->loads.clear();
        return {coordinator, view};
    }
    static std::vector<std::string> urls(const FakeWebView& view) {
        std::vector<std::string> found;
        for (const auto& load : view.loads) found.push_back(load.url);
        return found;
    }
    void deliver() { loop.runUntilIdle(); }

    Url appURL = *Url::parse("https://app.tomoriva.jp");
    FakeMainLoop loop;
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create(loop);
    std::shared_ptr<CoordinatorRegistry> registry = std::make_shared<CoordinatorRegistry>();
    std::shared_ptr<PushNotifications> push = std::make_shared<PushNotifications>(center);
    std::shared_ptr<testing::FakeMainTimers> timers = std::make_shared<testing::FakeMainTimers>();
    std::shared_ptr<testing::FakeNetworkMonitor> network = std::make_shared<testing::FakeNetworkMonitor>();
    WebHostContext context{.center = center, .registry = registry, .push = push, .mainLoop = &loop,
                           .dispatcher = nullptr, .navigationPolicy = nullptr, .syncRegistration = nullptr,
                           .timers = timers, .network = network};
    FakeWebViewFactory factory;
    std::string firstLoad;
};

TEST_F(CoordinatorTest, APendingOpenURLIsTheFirstPageOfOneWindowOnly) {
    push->setPendingOpenURL(*Url::parse("https://app.tomoriva.jp/calendar"));
    auto first = openWindow();
    EXPECT_EQ(firstLoad, "https://app.tomoriva.jp/calendar");
    EXPECT_EQ(factory.lastDelegate.lock(), first.coordinator);
    auto second = openWindow();
    EXPECT_EQ(firstLoad, "https://app.tomoriva.jp");
    EXPECT_FALSE(push->pendingOpenURL());

    // Opened while no window exists: it waits for the next one.
    first = second = {};
    push->openInternal(*Url::parse("https://app.tomoriva.jp/tasks/7"));
    deliver();
    openWindow();
    EXPECT_EQ(firstLoad, "https://app.tomoriva.jp/tasks/7");
}

TEST_F(CoordinatorTest, TheFrontWindowIsTheKeyOneElseTheFirstPlacedElseEveryOne) {
    auto a = openWindow();
    auto b = openWindow();
    EXPECT_TRUE(a.coordinator->isFrontCoordinator());
    EXPECT_FALSE(b.coordinator->isFrontCoordinator());
    b.view->key = true;
    EXPECT_FALSE(a.coordinator->isFrontCoordinator());
    EXPECT_TRUE(b.coordinator->isFrontCoordinator());
    b.view->key = false;
    a.view->inWindow = false;  // not placed in a window: skipped
    EXPECT_TRUE(b.coordinator->isFrontCoordinator());
    b.view->inWindow = false;
    EXPECT_TRUE(a.coordinator->isFrontCoordinator());
    EXPECT_TRUE(b.coordinator->isFrontCoordinator());
}

TEST_F(CoordinatorTest, OpenPathReloadAndInternalURLsReachOnlyTheFrontWindowAndEvaluateEveryOne) {
    auto a = openWindow();
    auto b = openWindow();
    b.view->key = true;
    center->post(names::kOpenPath, std::string("/calendar"));
    center->post(names::kReload);
    center->post(names::kEvaluate, std::string("all()"));
    center->post(names::kEvaluate, std::string("falseFlag()"), {{"frontOnly", false}});
    center->post(names::kEvaluate, std::string("notBool()"), {{"frontOnly", "yes"}});
    center->post(names::kEvaluate, std::string("front()"), {{"frontOnly", true}});
    center->post(names::kEvaluate, 42);
    push->openInternal(*Url::parse("https://app.tomoriva.jp/tasks/7"));
    deliver();
    EXPECT_TRUE(a.view->loads.empty());
    EXPECT_EQ(a.view->reloads, 0);
    EXPECT_EQ(urls(*b.view), (std::vector<std::string>{"https://app.tomoriva.jp/calendar", "https://app.tomoriva.jp/tasks/7"}));
    EXPECT_EQ(b.view->loads[0].timeout, std::chrono::seconds(60));
    EXPECT_EQ(b.view->reloads, 1);
    EXPECT_EQ(a.view->scripts, (std::vector<std::string>{"all()", "falseFlag()", "notBool()"}));
    EXPECT_EQ(b.view->scripts, (std::vector<std::string>{"all()", "falseFlag()", "notBool()", "front()"}));
    EXPECT_FALSE(push->pendingOpenURL()) << "taken by the window that loaded it";
}

TEST_F(CoordinatorTest, OpenPathRefusesOddPathsAndInternalURLRefusesAString) {
    auto a = openWindow();
    for (const char* path : {"calendar", "//evil.example/x", "/a//b", "/a\\b", "/a\"b", ""})
        center->post(names::kOpenPath, std::string(path));
    center->post(names::kOpenPath, *Url::parse("https://app.tomoriva.jp/chat"));
    center->post(names::kOpenPath);
    push->setPendingOpenURL(*Url::parse("https://app.tomoriva.jp/kept"));
    center->post(names::kOpenInternalURL, std::string("https://app.tomoriva.jp/tasks"));
    deliver();
    EXPECT_TRUE(a.view->loads.empty());
    EXPECT_TRUE(push->pendingOpenURL()) << "an ignored notification must not clear the pending URL";
    EXPECT_TRUE(isAcceptableOpenPath("/meeting-notes/record?mode=desktop-app"));
    EXPECT_FALSE(isAcceptableOpenPath("/x/https://evil"));
}

TEST_F(CoordinatorTest, ClosedWindowsLeaveTheRegistryAndNotificationsReachNeitherThemNorALingeringCoordinator) {
    auto a = openWindow();
    auto b = openWindow();
    b.view->key = true;
    const std::weak_ptr<Coordinator> closed = b.coordinator;
    b = {};  // the window closes: coordinator and view go
    factory.created.clear();
    EXPECT_TRUE(closed.expired());
    EXPECT_EQ(registry->live().size(), 1u);
    center->post(names::kOpenPath, std::string("/chat"));
    deliver();
    EXPECT_EQ(urls(*a.view), std::vector<std::string>{"https://app.tomoriva.jp/chat"}) << "the one left is the front";

    // A coordinator whose view is gone while it lingers.
    a.view.reset();
    EXPECT_FALSE(a.coordinator->webView());
    center->post(names::kOpenPath, std::string("/chat"));
    center->post(names::kReload);
    deliver();
}

// A failed load of the app's origin that the user cannot fix from the page brings the shell's page,
// saying why (the address escaped); anything else is left to the engine or the sign-in recovery.
// Gateways' answers fail the load, but a 503 in HTML is the app's own maintenance page.
TEST_F(CoordinatorTest, UnreachableAppLoadsShowTheShellsPageWithTheirReason) {
    const std::string app = "https://app.tomoriva.jp/", server = "サーバーに接続できません";
    const std::vector<std::tuple<std::string, LoadFailure, bool, std::string>> rows = {
        {"https://app.tomoriva.jp:443/", LoadFailure::connectionFailed, false, server},
        {app, LoadFailure::hostNotFound, true, server},
        {app, LoadFailure::timedOut, false, "インターネットに接続されていません"},
        {app, LoadFailure::insecureConnection, true, "安全な接続を確立できません"},
        {app, LoadFailure::cancelled, true, "-"},
        {"http://app.tomoriva.jp/", LoadFailure::gatewayError, true, "-"},
        {app + "auth/callback", LoadFailure::connectionFailed, true, "-"},
        {app + R"(?q="><b>&)", LoadFailure::gatewayError, true, "q=&quot;&gt;&lt;b&gt;&amp;\">"},
    };
    for (const auto& [failing, failure, online, expected] : rows) {
        network->available = online;
        auto window = openWindow();
        window.coordinator->didFailNavigation(Url::parse(failing), failure);
        const auto& pages = window.view->errorPages;
        EXPECT_EQ(pages.empty() ? "-" : pages[0].find(expected) != std::string::npos ? expected : pages[0], expected);
    }
    const auto accepts = [window = openWindow()](const std::string& url, int status, const char* type) {
        return window.coordinator->acceptsMainFrameResponse(*Url::parse(url), status, type);
    };
    EXPECT_FALSE(accepts(app, 502, "text/html") || accepts(app, 503, ""));
    EXPECT_TRUE(accepts(app, 503, "text/html") && accepts(app, 500, "") && accepts("https://accounts.google.com/", 504, ""));
}

// While the page shows: waits of 5, 10, 20, 40, then 60 s between attempts, one at a time; a reload,
// the page's button or the network coming back tries at once (unless one is on its way); the first
// page loaded ends it all.
TEST_F(CoordinatorTest, TheShellsPageRetriesOneAttemptAtATimeUntilAPageLoads) {
    auto window = openWindow();
    auto& view = *window.view;
    const auto fail = [&] { window.coordinator->didFailNavigation(view.current, LoadFailure::connectionFailed); };
    const auto loadsAfter = [&](std::chrono::milliseconds wait) {
        view.loads.clear();
        deliver();
        timers->advance(wait);
        return urls(view);
    };
    const std::vector<std::string> chat = {"https://app.tomoriva.jp/chat"};
    window.coordinator->didFailNavigation(Url::parse(chat[0]), LoadFailure::timedOut);
    std::vector<int> tried;  // seconds after the first failure, each attempt failing at once
    for (int second = 1; second <= 200; ++second)
        if (loadsAfter(std::chrono::seconds(1)) == chat) tried.push_back((fail(), second));
    EXPECT_EQ(tried, (std::vector<int>{5, 15, 35, 75, 135, 195}));
    center->post(names::kReload);
    center->post(names::kReload);  // while that attempt is on its way
    EXPECT_EQ(loadsAfter({}), chat) << "one attempt at a time";
    bool allowed = false;
    window.coordinator->decidePolicyForNavigation(chat[0], [&](bool allow) { allowed = allow; });  // its own
    EXPECT_TRUE((deliver(), allowed));
    window.coordinator->decidePolicyForNavigation(chat[0], [&](bool allow) { allowed = allow; });  // the button
    EXPECT_FALSE(allowed);
    EXPECT_TRUE(loadsAfter(std::chrono::minutes(10)).empty());

    // The meeting-notes hand-over becomes the address; the network back tries it at once.
    const std::string notes = "https://app.tomoriva.jp/meeting-notes/record?mode=desktop-app";
    fail();
    push->openInternal(*Url::parse(notes));
    EXPECT_EQ(loadsAfter({}), std::vector<std::string>{notes});
    fail();
    for (const bool available : {false, true, false, true}) network->set(available);  // the second time during the attempt
    EXPECT_EQ(urls(view), std::vector<std::string>(2, notes));
    // Stopped after a redirect (the engine names its target): the next attempt comes on schedule.
    window.coordinator->didFailNavigation(Url::parse(notes + "&lang=ja"), LoadFailure::cancelled);
    EXPECT_EQ(loadsAfter(std::chrono::seconds(5)), std::vector<std::string>{notes});
    window.coordinator->didFinishNavigation();
    center->post(names::kReload);
    EXPECT_TRUE(loadsAfter(std::chrono::minutes(10)).empty());
    EXPECT_EQ(view.reloads, 1);
}

}  // namespace
}  // namespace orvan
