// The tray companion's logic as scripts: steps, and the whole trace they leave (the application's
// calls, windows opened, reloads, the item's title and check mark, log lines).
#include <gtest/gtest.h>

#include <fstream>

#include "plugin/KestrinPlugin.h"
#include "tests/support/ScriptCase.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeKestrinPorts.h"
#include "tests/fakes/ManualClock.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

using namespace orvan::testing;

// Steps: "image" (the tray image exists), "install", "visible", "active", "toggle", "show", "open"
// (the menu's open row), "click <token>", "key <token>" (the hot key), "refuse <code>" (the hot key
// refused later), "badge <text>|-", "row <n>" (a menu row chosen), "menu" (about to show; traces the
// autostart check mark), "panel on|off" (a panel shows the item or no longer does), "login on|off|fails <text>", "autostart" (toggled), "denied <text>" (the
// system refuses the last toggle later), "item" (traces whether the item has an image).
using PluginScript = testing::ScriptCase;
using testing::scriptNumber;

class KestrinPluginTest : public ::testing::TestWithParam<PluginScript> {
protected:
    void perform(const std::string& step) {
        const auto space = step.find(' ');
        const std::string word = step.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : step.substr(space + 1);
        const std::size_t calls = application->calls.size();
        if (word == "image") std::ofstream(temp.path() / "tray.svg") << "<svg/>";
        else if (word == "install") {
            plugin.installWithOpenWindow([this] { trace.push_back("opened"); }, [this] { trace.push_back("reloaded"); });
        }
        else if (word == "panel") bar->item->content.onShownChanged(rest == "on");
        else if (word == "visible") application->visible = true;
        else if (word == "active") application->active = true;
        else if (word == "toggle") plugin.toggleWindow();
        else if (word == "show") plugin.showWindow();
        else if (word == "open") plugin.openFromMenu();
        else if (word == "click") bar->item->content.onActivate(rest);
        else if (word == "key") keys->pressed(rest);
        else if (word == "refuse") keys->refused(std::stoi(rest));
        else if (word == "badge") plugin.setBadgeTitle(rest == "-" ? std::nullopt : std::optional(rest));
        else if (word == "row") bar->item->content.menu.at(std::stoul(rest)).action();
        else if (word == "menu") {
            bar->item->content.onMenuAboutToShow();
            trace.push_back(bar->item->content.menu[KestrinPlugin::kAutostartRow].checked ? "checked" : "unchecked");
        } else if (word == "login") {
            login->on = rest == "on";
            login->failure = rest.starts_with("fails ") ? std::optional(rest.substr(6)) : std::nullopt;
        } else if (word == "autostart") {
            plugin.toggleAutostart();
            trace.push_back(login->on ? "autostart on" : "autostart off");
        } else if (word == "denied") login->failed(rest);
        else if (word == "item") {
            const bool image = bar->item && bar->item->content.imageFolder == temp.path();
            trace.push_back(!bar->item ? "no item" : image ? "item with image" : "item without image");
        } else FAIL() << "unknown step " << step;
        for (std::size_t i = calls; i < application->calls.size(); ++i) trace.push_back(application->calls[i]);
        if (bar->item && bar->item->title != title) trace.push_back("title '" + (title = bar->item->title) + "'");
        for (auto& line : log->lines()) trace.push_back(line);
        log = CapturingLogSink::install();
    }

    TempDirectory temp{"orvan-kestrin"};
    std::shared_ptr<CapturingLogSink> log = CapturingLogSink::install();
    std::shared_ptr<FakeStatusBar> bar = std::make_shared<FakeStatusBar>();
    std::shared_ptr<FakeDesktopApplication> application = std::make_shared<FakeDesktopApplication>();
    std::shared_ptr<FakeLoginItem> login = std::make_shared<FakeLoginItem>();
    std::shared_ptr<FakeGlobalHotKeys> keys = std::make_shared<FakeGlobalHotKeys>();
    KestrinPlugin plugin{{.statusBar = bar, .application = application, .loginItem = login, .resources = temp.path(),
                          .applicationId = "jp.tomoriva.OrvanOffice", .clock = std::make_shared<ManualClock>(),
                          .hotKeys = keys, .makeUpdater = nullptr}};
    std::vector<std::string> trace;
    std::string title;
};

TEST_P(KestrinPluginTest, LeavesTheTrace) {
    for (const auto& step : GetParam().steps) perform(step);
    setLogSink(nullptr);
    EXPECT_EQ(trace, GetParam().trace);
}

// A toggle hides the window only when it is in front and active, and opens one where there is none;
// show and the menu's open row always bring it forward.
INSTANTIATE_TEST_SUITE_P(Windows, KestrinPluginTest, ::testing::Values(
    PluginScript{"toggle: in front and active hides", {"install", "visible", "active", "toggle"}, {"hide"}},
    PluginScript{"toggle: visible behind another application comes forward", {"install", "visible", "toggle"},
                 {"unhide", "activate:"}},
    PluginScript{"toggle: no window opens one", {"install", "toggle"}, {"opened", "unhide", "activate:"}},
    PluginScript{"toggle: active without a window opens one", {"install", "active", "toggle"},
                 {"opened", "unhide", "activate:"}},
    PluginScript{"show: visible and active still comes forward", {"install", "visible", "active", "show"},
                 {"unhide", "activate:"}},
    PluginScript{"show: no window opens one", {"install", "show"}, {"opened", "unhide", "activate:"}},
    PluginScript{"open from the menu is show", {"install", "active", "open"}, {"opened", "unhide", "activate:"}},
    PluginScript{"a click and the hot key carry the desktop's activation token; a key refused later is logged",
                 {"install", "visible", "click token-7", "key _TIME42", "refuse -4"},
                 {"unhide", "activate:token-7", "unhide", "activate:_TIME42", "Kestrin: ⌘⇧O を登録できません (-4)",
                  KestrinPlugin::kToggleCommandLine}}),
    scriptNumber);

INSTANTIATE_TEST_SUITE_P(Item, KestrinPluginTest, ::testing::Values(
    // The tray keeps the application running; the title follows the badge; the reload and quit rows
    // act; the autostart row's check mark follows the login item each time the menu opens.
    PluginScript{"init builds nothing, install makes the item and its menu",
        {"image", "badge 3", "item", "install", "item", "badge 3", "badge -", "row 1", "login on", "menu", "login off",
         "menu", "row 6"},
        {"no item", "item with image", "title ' 3'", "title ''", "reloaded", "checked", "unchecked", "terminate"}},
    PluginScript{"without the tray image the item has none", {"install", "item"}, {"item without image"}},
    PluginScript{"the application outlives its last window only while a panel shows the item",
        {"install", "panel on", "panel off", "panel on"}, {"hold", "release", "hold"}},
    PluginScript{"autostart flips, and a failure at once or later is logged",
        {"install", "autostart", "autostart", "login fails Permission denied", "autostart", "login off", "autostart",
         "denied ユーザーが許可しませんでした"},
        {"autostart on", "autostart off", "autostart off", "Kestrin: 自動起動の切り替えに失敗: Permission denied",
         "autostart on", "Kestrin: 自動起動の切り替えに失敗: ユーザーが許可しませんでした"}}),
    scriptNumber);

}  // namespace
}  // namespace orvan
