#include <gtest/gtest.h>

#include <filesystem>

#include "app/OfficeAppDelegate.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeInfoDictionary.h"
#include "tests/fakes/FakeKestrinPorts.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeUserDefaults.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

using namespace orvan::testing;

class RecordingActivator final : public ApplicationActivator {
public:
    void bringToFront(const std::string& token) override { tokens.push_back(token); }
    std::vector<std::string> tokens;
};

class OfficeAppDelegateTest : public ::testing::Test {
protected:
    OfficeAppDelegateTest() {
        std::filesystem::create_directories(plugIns);
        center = NotificationCenter::create(loop);
        push = std::make_shared<PushNotifications>(PushNotifications::Dependencies{
            .center = center,
            .config = std::make_shared<AppConfig>(std::make_shared<FakeInfoDictionary>()),
            .defaults = std::make_shared<FakeUserDefaults>(),
            .notifications = notifications,
            .remote = nullptr,
            .mainLoop = &loop,
            .bundleId = "jp.tomoriva.OrvanOffice",
        });
        macShell = std::make_shared<MacShell>(plugIns, loader);
        delegate = std::make_unique<OfficeAppDelegate>(OfficeAppDelegate::Dependencies{
            .mainLoop = &loop, .notifications = notifications, .macShell = macShell, .push = push,
            .activator = activator, .afterFirstPage = {}});
        opened = center->addObserver("officeOpenInternalURL", [this](const Notification& n) {
            urls.push_back(std::any_cast<Url>(n.object).string());
        });
    }

    FakeMainLoop loop;
    TempDirectory temp{"orvan-delegate"};
    std::filesystem::path plugIns = temp.path() / "PlugIns";
    std::shared_ptr<NotificationCenter> center;
    std::shared_ptr<FakeUserNotificationCenter> notifications = std::make_shared<FakeUserNotificationCenter>();
    std::shared_ptr<FakePluginLoader> loader = std::make_shared<FakePluginLoader>();
    std::shared_ptr<RecordingActivator> activator = std::make_shared<RecordingActivator>();
    std::shared_ptr<PushNotifications> push;
    std::shared_ptr<MacShell> macShell;
    std::unique_ptr<OfficeAppDelegate> delegate;
    ObserverToken opened;
    std::vector<std::string> urls;
};

TEST_F(OfficeAppDelegateTest, LaunchBecomesTheNotificationDelegateAtOnceAndStartsServicesInOneTaskAfter) {
    EXPECT_TRUE(delegate->didFinishLaunching());
    EXPECT_TRUE(notifications->responseHandler) << "the delegate is set before launch returns";
    EXPECT_TRUE(loader->opened.empty()) << "the launch work waits for the main loop";
    EXPECT_EQ(notifications->authorizationReads, 0);

    loop.runUntilIdle();
    ASSERT_EQ(loader->opened.size(), 1u);
    EXPECT_EQ(loader->opened[0], plugIns / "Kestrin.bundle");
    EXPECT_EQ(notifications->authorizationReads, 1);
    EXPECT_TRUE(urls.empty()) << "launch without a notification opens nothing";
}

TEST_F(OfficeAppDelegateTest, ThePlugInAndPushRegistrationWaitForTheFirstPageButTheLaunchPayloadDoesNot) {
    std::vector<std::function<void()>> held;
    OfficeAppDelegate deferring({.mainLoop = &loop, .notifications = notifications, .macShell = macShell, .push = push,
                                 .activator = activator,
                                 .afterFirstPage = [&](std::function<void()> work) { held.push_back(std::move(work)); }});
    deferring.didFinishLaunching(nlohmann::json{{"url", "/calendar"}});
    loop.runUntilIdle();
    EXPECT_EQ(urls, std::vector<std::string>{"https://app.tomoriva.jp/calendar"});
    EXPECT_TRUE(loader->opened.empty());
    EXPECT_EQ(notifications->authorizationReads, 0);

    ASSERT_EQ(held.size(), 1u);
    held[0]();
    loop.runUntilIdle();
    EXPECT_EQ(loader->opened.size(), 1u);
    EXPECT_EQ(notifications->authorizationReads, 1);
}

TEST_F(OfficeAppDelegateTest, AClickedNotificationOpensItsPageAndComesForward) {
    delegate->didFinishLaunching();
    loop.runUntilIdle();
    notifications->responseHandler({{{"url", "https://app.tomoriva.jp/tasks/9"}}, "token-1"});
    notifications->responseHandler({nlohmann::json::object(), ""});
    loop.runUntilIdle();
    EXPECT_EQ(urls, std::vector<std::string>{"https://app.tomoriva.jp/tasks/9"});
    EXPECT_EQ(activator->tokens, (std::vector<std::string>{"token-1", ""}));
}

}  // namespace
}  // namespace orvan
