#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/fakes/FakeMainLoop.h"
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
    WebHostContext context{.center = center, .registry = registry, .push = push, .mainLoop = &loop,
                           .dispatcher = nullptr, .navigationPolicy = nullptr,
                           .syncRegistration = nullptr};
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

}  // namespace
}  // namespace orvan
