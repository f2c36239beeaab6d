#include <gtest/gtest.h>

#include <fstream>

#include "plugin/KestrinPlugin.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeKestrinPorts.h"
#include "tests/fakes/ManualClock.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

using namespace orvan::testing;

class KestrinPluginTest : public ::testing::Test {
protected:
    KestrinPlugin::Dependencies dependencies() {
        return {.statusBar = bar, .application = application, .loginItem = login, .resources = temp.path(),
                .applicationId = "jp.tomoriva.OrvanOffice", .clock = std::make_shared<ManualClock>(),
                .hotKeys = nullptr, .makeUpdater = nullptr};
    }
    void install(KestrinPlugin& plugin) {
        plugin.installWithOpenWindow([this] { ++opened; }, [this] { ++reloaded; });
    }

    TempDirectory temp{"orvan-kestrin"};
    std::shared_ptr<FakeStatusBar> bar = std::make_shared<FakeStatusBar>();
    std::shared_ptr<FakeDesktopApplication> application = std::make_shared<FakeDesktopApplication>();
    std::shared_ptr<FakeLoginItem> login = std::make_shared<FakeLoginItem>();
    int opened = 0;
    int reloaded = 0;
};

TEST_F(KestrinPluginTest, ToggleAndShowDecideFromVisibilityAndActivity) {
    struct Case {
        const char* name;
        void (KestrinPlugin::*operation)();
        bool visible, active;
        std::vector<std::string> calls;
        int opens;
    };
    const std::vector<std::string> forward = {"unhide", "activate:"};
    const Case cases[] = {
        {"toggle: in front and active hides", &KestrinPlugin::toggleWindow, true, true, {"hide"}, 0},
        {"toggle: visible behind another application comes forward", &KestrinPlugin::toggleWindow, true, false, forward, 0},
        {"toggle: no window opens one", &KestrinPlugin::toggleWindow, false, false, forward, 1},
        {"toggle: active without a window opens one", &KestrinPlugin::toggleWindow, false, true, forward, 1},
        {"show: visible and active still comes forward", &KestrinPlugin::showWindow, true, true, forward, 0},
        {"show: no window opens one", &KestrinPlugin::showWindow, false, false, forward, 1},
        {"open from the menu is show", &KestrinPlugin::openFromMenu, false, true, forward, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KestrinPlugin plugin(dependencies());
        install(plugin);
        application->calls.clear();
        application->visible = c.visible;
        application->active = c.active;
        opened = 0;
        (plugin.*c.operation)();
        EXPECT_EQ(application->calls, c.calls);
        EXPECT_EQ(opened, c.opens);
    }
}

TEST_F(KestrinPluginTest, AClickCarriesTheDesktopsActivationToken) {
    KestrinPlugin plugin(dependencies());
    install(plugin);
    application->calls.clear();
    bar->item->content.onActivate("token-7");
    EXPECT_EQ(application->calls, (std::vector<std::string>{"unhide", "activate:token-7"}));
}

TEST_F(KestrinPluginTest, InitBuildsNothingAndInstallMakesTheItemAndItsMenu) {
    std::ofstream(temp.path() / "tray.svg") << "<svg/>";
    KestrinPlugin plugin(dependencies());
    plugin.setBadgeTitle("3");
    EXPECT_EQ(bar->item, nullptr);
    EXPECT_TRUE(application->calls.empty());
    EXPECT_FALSE(plugin.meetingPopupVisible());

    install(plugin);
    ASSERT_NE(bar->item, nullptr);
    const StatusItemContent& item = bar->item->content;
    EXPECT_EQ(item.imageFolder, temp.path());
    EXPECT_EQ(application->calls, std::vector<std::string>{"hold"}) << "the tray keeps the application running";
    plugin.setBadgeTitle("3");
    EXPECT_EQ(bar->item->title, " 3");
    plugin.setBadgeTitle(std::nullopt);
    EXPECT_EQ(bar->item->title, "");

    item.menu[1].action();
    EXPECT_EQ(reloaded, 1);
    login->on = true;
    item.onMenuAboutToShow();
    EXPECT_TRUE(bar->item->content.menu[KestrinPlugin::kAutostartRow].checked);
    login->on = false;
    item.onMenuAboutToShow();
    EXPECT_FALSE(bar->item->content.menu[KestrinPlugin::kAutostartRow].checked);
    application->calls.clear();
    item.menu[6].action();
    EXPECT_EQ(application->calls, std::vector<std::string>{"terminate"});

    std::filesystem::remove(temp.path() / "tray.svg");
    KestrinPlugin withoutImage(dependencies());
    install(withoutImage);
    EXPECT_FALSE(bar->item->content.imageFolder) << "without the tray image the item has none";
}

// A key refused at once is TrayTest's and DesktopPortalTest's (real X server, portal).
TEST_F(KestrinPluginTest, TheHotKeyTogglesLikeAClickAndARefusalLaterIsLoggedWithItsCode) {
    auto log = CapturingLogSink::install();
    auto keys = std::make_shared<FakeGlobalHotKeys>();
    auto deps = dependencies();
    deps.hotKeys = keys;
    KestrinPlugin plugin(deps);
    install(plugin);
    application->calls.clear();
    application->visible = true;
    keys->pressed("_TIME42");
    EXPECT_EQ(application->calls, (std::vector<std::string>{"unhide", "activate:_TIME42"}));
    keys->refused(-4);
    EXPECT_EQ(log->lines(), std::vector<std::string>{"Kestrin: ⌘⇧O を登録できません (-4)"});
    setLogSink(nullptr);
}

TEST_F(KestrinPluginTest, ToggleAutostartFlipsTheStateAndLogsAFailure) {
    auto log = CapturingLogSink::install();
    KestrinPlugin plugin(dependencies());
    install(plugin);
    plugin.toggleAutostart();
    EXPECT_TRUE(login->on);
    plugin.toggleAutostart();
    EXPECT_FALSE(login->on);
    login->failure = "Permission denied";
    plugin.toggleAutostart();
    EXPECT_FALSE(login->on);
    login->failure.reset();
    plugin.toggleAutostart();
    login->failed("ユーザーが許可しませんでした");
    EXPECT_EQ(log->lines(), (std::vector<std::string>{"Kestrin: 自動起動の切り替えに失敗: Permission denied",
                                                      "Kestrin: 自動起動の切り替えに失敗: ユーザーが許可しませんでした"}))
        << "at once, and when the system answers later";
    setLogSink(nullptr);
}

}  // namespace
}  // namespace orvan
