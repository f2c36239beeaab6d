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

    CoordinatorTest() {
        center = NotificationCenter::create(loop);
        push = std::make_shared<PushNotifications>(center);
        context = WebHostContext{.center = center,
                                 .registry = registry,
                                 .push = push,
                                 .mainLoop = &loop,
                                 .dispatcher = nullptr,
                                 .navigationPolicy = nullptr,
                                 .syncRegistration = [this](const std::shared_ptr<WebView>& view) {
                                     synced.push_back(view.get());
                                 }};
    }

    Window openWindow() {
        const OfficeWebView content(appURL, context);
        auto coordinator = content.makeCoordinator();
        auto view = std::static_pointer_cast<FakeWebView>(content.makeUIView(*coordinator, factory));
        view->loads.clear();  // the first load is checked separately
        return {coordinator, view};
    }

    void deliver() { loop.runUntilIdle(); }

    Url appURL = *Url::parse("https://app.tomoriva.jp");
    FakeMainLoop loop;
    std::shared_ptr<NotificationCenter> center;
    std::shared_ptr<CoordinatorRegistry> registry = std::make_shared<CoordinatorRegistry>();
    std::shared_ptr<PushNotifications> push;
    WebHostContext context;
    FakeWebViewFactory factory;
    std::vector<WebView*> synced;
};

TEST_F(CoordinatorTest, FirstWindowLoadsTheAppURLWithTheStandardTimeoutAndUserAgent) {
    const OfficeWebView content(appURL, context);
    auto coordinator = content.makeCoordinator();
    auto view = std::static_pointer_cast<FakeWebView>(content.makeUIView(*coordinator, factory));
    ASSERT_EQ(view->loads.size(), 1u);
    EXPECT_EQ(view->loads[0].url, "https://app.tomoriva.jp");
    EXPECT_EQ(view->loads[0].timeout, std::chrono::seconds(60));
    EXPECT_EQ(factory.lastConfiguration.userAgentApplicationName, "Version/18.0 Safari/605.1.15 OrvanOfficeMac");
    EXPECT_EQ(factory.lastDelegate.lock().get(), coordinator.get());
}

TEST_F(CoordinatorTest, PendingOpenURLIsTakenOnceByTheFirstWindowCreated) {
    push->setPendingOpenURL(*Url::parse("https://app.tomoriva.jp/calendar"));
    const OfficeWebView content(appURL, context);
    auto first = content.makeCoordinator();
    auto firstView = std::static_pointer_cast<FakeWebView>(content.makeUIView(*first, factory));
    auto second = content.makeCoordinator();
    auto secondView = std::static_pointer_cast<FakeWebView>(content.makeUIView(*second, factory));

    EXPECT_EQ(firstView->loads.at(0).url, "https://app.tomoriva.jp/calendar");
    EXPECT_EQ(secondView->loads.at(0).url, "https://app.tomoriva.jp");
    EXPECT_FALSE(push->pendingOpenURL());
}

TEST_F(CoordinatorTest, FrontWindowIsTheKeyOneWhateverItsRegistryPosition) {
    auto a = openWindow();
    auto b = openWindow();
    b.view->key = true;
    EXPECT_FALSE(a.coordinator->isFrontCoordinator());
    EXPECT_TRUE(b.coordinator->isFrontCoordinator());
}

TEST_F(CoordinatorTest, WithNoKeyWindowTheFirstPlacedInRegistryOrderIsFront) {
    auto a = openWindow();
    auto b = openWindow();
    EXPECT_TRUE(a.coordinator->isFrontCoordinator());
    EXPECT_FALSE(b.coordinator->isFrontCoordinator());

    a.view->inWindow = false;  // not placed in a window: skipped
    EXPECT_TRUE(b.coordinator->isFrontCoordinator());
}

TEST_F(CoordinatorTest, WithNoWindowPlacedEveryCoordinatorActs) {
    auto a = openWindow();
    auto b = openWindow();
    a.view->inWindow = false;
    b.view->inWindow = false;
    EXPECT_TRUE(a.coordinator->isFrontCoordinator());
    EXPECT_TRUE(b.coordinator->isFrontCoordinator());
}

TEST_F(CoordinatorTest, ClosedWindowsLeaveTheRegistryAndStopObserving) {
    auto a = openWindow();
    auto b = openWindow();
    b.view->key = true;
    auto bView = b.view;
    b = {};  // the window closes: coordinator and view go
    bView.reset();
    EXPECT_TRUE(a.coordinator->isFrontCoordinator());
    EXPECT_EQ(registry->live().size(), 1u);

    center->post(names::kOpenPath, std::string("/chat"));
    deliver();
    ASSERT_EQ(a.view->loads.size(), 1u);
}

TEST_F(CoordinatorTest, OpenPathLoadsOnlyInTheFrontWindowResolvedAgainstTheAppURL) {
    auto a = openWindow();
    auto b = openWindow();
    b.view->key = true;
    center->post(names::kOpenPath, std::string("/calendar"));
    deliver();
    EXPECT_TRUE(a.view->loads.empty());
    ASSERT_EQ(b.view->loads.size(), 1u);
    EXPECT_EQ(b.view->loads[0].url, "https://app.tomoriva.jp/calendar");
    EXPECT_EQ(b.view->loads[0].timeout, std::chrono::seconds(60));
}

TEST_F(CoordinatorTest, OpenPathCharacterRulesAndWrongTypes) {
    auto a = openWindow();
    for (const char* path : {"calendar", "//evil.example/x", "/a//b", "/a\\b", "/a\"b", ""}) {
        center->post(names::kOpenPath, std::string(path));
    }
    center->post(names::kOpenPath, *Url::parse("https://app.tomoriva.jp/chat"));
    center->post(names::kOpenPath);
    deliver();
    EXPECT_TRUE(a.view->loads.empty());

    EXPECT_TRUE(isAcceptableOpenPath("/meeting-notes/record?mode=desktop-app"));
    EXPECT_FALSE(isAcceptableOpenPath("/x/https://evil"));
}

TEST_F(CoordinatorTest, ReloadReachesOnlyTheFrontWindow) {
    auto a = openWindow();
    auto b = openWindow();
    a.view->key = true;
    center->post(names::kReload);
    deliver();
    EXPECT_EQ(a.view->reloads, 1);
    EXPECT_EQ(b.view->reloads, 0);
}

TEST_F(CoordinatorTest, EvaluateReachesEveryWindowUnlessFrontOnlyIsTrue) {
    auto a = openWindow();
    auto b = openWindow();
    b.view->key = true;
    center->post(names::kEvaluate, std::string("all()"));
    center->post(names::kEvaluate, std::string("falseFlag()"), {{"frontOnly", false}});
    center->post(names::kEvaluate, std::string("notBool()"), {{"frontOnly", "yes"}});
    center->post(names::kEvaluate, std::string("front()"), {{"frontOnly", true}});
    center->post(names::kEvaluate, 42);
    deliver();
    EXPECT_EQ(a.view->scripts, (std::vector<std::string>{"all()", "falseFlag()", "notBool()"}));
    EXPECT_EQ(b.view->scripts, (std::vector<std::string>{"all()", "falseFlag()", "notBool()", "front()"}));
}

TEST_F(CoordinatorTest, OpenInternalURLLoadsInTheFrontWindowAndClearsThePendingURL) {
    auto a = openWindow();
    auto b = openWindow();
    a.view->key = true;
    push->openInternal(*Url::parse("https://app.tomoriva.jp/tasks/7"));
    EXPECT_TRUE(push->pendingOpenURL());
    deliver();
    ASSERT_EQ(a.view->loads.size(), 1u);
    EXPECT_EQ(a.view->loads[0].url, "https://app.tomoriva.jp/tasks/7");
    EXPECT_TRUE(b.view->loads.empty());
    EXPECT_FALSE(push->pendingOpenURL());
}

TEST_F(CoordinatorTest, OpenInternalURLIgnoresAStringObject) {
    auto a = openWindow();
    push->setPendingOpenURL(*Url::parse("https://app.tomoriva.jp/kept"));
    center->post(names::kOpenInternalURL, std::string("https://app.tomoriva.jp/tasks"));
    deliver();
    EXPECT_TRUE(a.view->loads.empty());
    EXPECT_TRUE(push->pendingOpenURL()) << "an ignored notification must not clear the pending URL";
}

TEST_F(CoordinatorTest, OpenInternalURLWithNoWindowStaysPendingForTheNextWindow) {
    push->openInternal(*Url::parse("https://app.tomoriva.jp/calendar"));
    deliver();
    const OfficeWebView content(appURL, context);
    auto coordinator = content.makeCoordinator();
    auto view = std::static_pointer_cast<FakeWebView>(content.makeUIView(*coordinator, factory));
    EXPECT_EQ(view->loads.at(0).url, "https://app.tomoriva.jp/calendar");
}

TEST_F(CoordinatorTest, TokenReadyAndFinishedNavigationsReachPushRegistrationForEveryLiveView) {
    auto a = openWindow();
    auto b = openWindow();
    b.view->key = true;
    center->post(names::kAPNsTokenReady);
    deliver();
    EXPECT_EQ(synced, (std::vector<WebView*>{a.view.get(), b.view.get()}));

    synced.clear();
    a.coordinator->didFinishNavigation();
    deliver();
    EXPECT_EQ(synced, (std::vector<WebView*>{a.view.get()}));
}

TEST_F(CoordinatorTest, NotificationsAfterTheWebViewIsGoneDoNothing) {
    const OfficeWebView content(appURL, context);
    auto coordinator = content.makeCoordinator();
    {
        auto view = content.makeUIView(*coordinator, factory);
    }
    factory.created.clear();  // the window's view is freed, the coordinator lingers
    center->post(names::kOpenPath, std::string("/chat"));
    center->post(names::kAPNsTokenReady);
    center->post(names::kReload);
    deliver();
    EXPECT_TRUE(synced.empty());
    EXPECT_FALSE(coordinator->webView());
}

}  // namespace
}  // namespace orvan
