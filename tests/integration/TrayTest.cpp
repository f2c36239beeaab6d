// The tray item on the private session bus, seen by a panel of the tests' own, and the window
// terms on real GTK windows.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "linux/dbus/LauncherEntryBadge.h"
#include "linux/dbus/StatusNotifierItem.h"
#include "linux/gtk/GtkDesktopApplication.h"
#include "linux/gtk/GtkSceneLifecycle.h"
#include "linux/x11/X11GlobalHotKeys.h"
#include "macshell/MacShell.h"
#include "platform/Clock.h"
#include "linux/plist/DlopenPluginLoader.h"
#include "linux/glib/GLibMainLoop.h"
#include "plugin/KestrinPlugin.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeKestrinPorts.h"
#include "tests/integration/FakeStatusNotifierHost.h"
#include "tests/integration/GtkTestSupport.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using namespace std::chrono_literals;

std::string stringOf(GVariant* value) {
    std::string text = value != nullptr ? g_variant_get_string(value, nullptr) : "<none>";
    if (value != nullptr) g_variant_unref(value);
    return text;
}

TEST(TrayTest, TheItemRegistersWithEveryPanelThatAppearsAndAgainWithOneThatDropsIt) {
    auto log = CapturingLogSink::install();
    StatusNotifierItem item(StatusItemContent{});
    EXPECT_TRUE(runUntil([&] { return log->lines().size() == 1; }, 5s)) << "no panel: one line";

    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start == 0 ? "a panel that starts later" : "the panel restarted");
        FakeStatusNotifierHost panel;
        ASSERT_TRUE(runUntil([&] { return !panel.registered.empty(); }, 5s));
        EXPECT_EQ(panel.registered, std::vector<std::string>{item.busName()});
    }
    FakeStatusNotifierHost panel;
    ASSERT_TRUE(runUntil([&] { return !panel.registered.empty(); }, 5s));
    for (std::size_t drops = 1; drops <= 4; ++drops) {
        // Watchers name the dropped item by its bus name, or with its object path after it.
        panel.drop(drops % 2 == 1 ? item.busName() : item.busName() + "/StatusNotifierItem");
        const std::size_t expected = 1 + std::min<std::size_t>(drops, 3);
        runUntil([&] { return panel.registered.size() > expected; }, 800ms);
        EXPECT_EQ(panel.registered.size(), expected) << "registered again after each drop, three times at most";
    }
    EXPECT_EQ(log->lines().size(), 1u) << "only the first absence is worth a line";
    setLogSink(nullptr);
}

// Where no meeting panel can float, a recording shows in rows above the item's own.
TEST(TrayTest, RowsAboveTheMenuChangeInPlaceAnswerAndGo) {
    FakeStatusNotifierHost panel;
    int paused = 0;
    StatusItemContent content;
    content.menu = {StatusMenuEntry::item("終了", [] {})};
    StatusNotifierItem item(content);
    ASSERT_TRUE(runUntil([&] { return !panel.registered.empty(); }, 5s));
    const auto rows = [&](const std::string& clock) {
        StatusMenuEntry state = StatusMenuEntry::item("● 記録しています ・ " + clock, nullptr);
        state.enabled = false;
        return std::vector<StatusMenuEntry>{state, StatusMenuEntry::item("一時停止", [&] { ++paused; }),
                                            StatusMenuEntry::separator()};
    };
    const auto shown = [&] {
        std::string text;
        for (const auto& row : panel.menu(item.busName())) text += (row.enabled ? "" : "!") + row.text + "|";
        return text;
    };
    item.setLeadingRows(rows("00:01"));
    EXPECT_EQ(shown(), "!● 記録しています ・ 00:01|一時停止|---|終了|");
    const std::int32_t pause = panel.menu(item.busName()).at(1).id;
    item.setLeadingRows(rows("00:02"));
    EXPECT_EQ(shown(), "!● 記録しています ・ 00:02|一時停止|---|終了|");
    EXPECT_TRUE(panel.click(item.busName(), pause)) << "the same row, changed in place";
    EXPECT_TRUE(runUntil([&] { return paused == 1; }, 5s));
    item.setLeadingRows({});
    EXPECT_EQ(shown(), "終了|");
}

// The built bundle, loaded by the application's own loader, as a panel sees it.
class TrayBundleTest : public ::testing::Test {
protected:
    TrayBundleTest() {
        shell = std::make_unique<MacShell>(MacShell::Dependencies{
            .plugInsFolder = ORVAN_BUNDLE_DIR "/PlugIns",
            .loader = std::make_shared<DlopenPluginLoader>(),
            .mainLoop = &loop,
            .center = center,
            .notifications = nullptr,
            .badge = std::make_shared<LauncherEntryBadge>("jp.tomoriva.OrvanOffice.desktop"),
            .openWindow = [this] { ++opened; },
            .newUUID = [] { return std::string("id"); },
        });
    }

    int opened = 0;

    GLibMainLoop loop;
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create(loop);
    FakeStatusNotifierHost panel;
    std::unique_ptr<MacShell> shell;
};

using MenuRow = FakeStatusNotifierHost::MenuRow;

TEST_F(TrayBundleTest, TheBuiltBundlesMenuReloadsSwitchesAutostartAndItsLabelAndCountFollowTheBadges) {
    testApplication();
    shell->loadPlugin();
    ASSERT_TRUE(shell->isPluginLoaded());
    ASSERT_TRUE(runUntil([&] { return !panel.registered.empty(); }, 5s));
    const std::string item = panel.registered.back();

    const auto rows = panel.menu(item);
    int reloads = 0;
    auto reloadObserver = center->addObserver(notification_names::kReload, [&](const Notification&) { ++reloads; });
    const auto reload = std::find_if(rows.begin(), rows.end(), [](const MenuRow& row) { return row.text == "再読み込み"; });
    ASSERT_NE(reload, rows.end());
    panel.click(item, reload->id);
    EXPECT_TRUE(runUntil([&] { return reloads == 1; }, 5s)) << "再読み込み reloads the page";

    std::vector<std::string> labels;
    panel.onSignal("org.kde.StatusNotifierItem", "XAyatanaNewLabel", [&](GVariant* parameters) {
        const gchar* label = nullptr;
        g_variant_get(parameters, "(&s&s)", &label, nullptr);
        labels.emplace_back(label);
    });
    std::vector<std::string> counts;
    panel.onSignal("com.canonical.Unity.LauncherEntry", "Update", [&](GVariant* parameters) {
        const gchar* app = nullptr;
        GVariant* properties = nullptr;
        g_variant_get(parameters, "(&s@a{sv})", &app, &properties);
        gint64 count = -1;
        gboolean visible = FALSE;
        g_variant_lookup(properties, "count", "x", &count);
        g_variant_lookup(properties, "count-visible", "b", &visible);
        counts.push_back(std::string(app) + " " + std::to_string(count) + (visible ? " visible" : " hidden"));
        g_variant_unref(properties);
    });
    shell->applyBadges(nlohmann::json{{"outbox", 3}, {"notifications", 1}, {"chatUnread", 1}});
    shell->applyBadges(nlohmann::json{{"notifications", 0}, {"chatUnread", 0}});
    EXPECT_TRUE(runUntil([&] { return labels.size() == 2 && counts.size() == 2; }, 5s));
    EXPECT_EQ(labels, (std::vector<std::string>{" 4", ""}));
    EXPECT_EQ(counts, (std::vector<std::string>{"application://jp.tomoriva.OrvanOffice.desktop 2 visible",
                                                "application://jp.tomoriva.OrvanOffice.desktop 0 hidden"}));
    EXPECT_EQ(stringOf(panel.itemProperty(item, "XAyatanaLabel")), "");

    // The autostart row writes and removes the entry, and its check mark follows.
    const auto entry = std::filesystem::path(g_get_user_config_dir()) / "autostart" / "jp.tomoriva.OrvanOffice.desktop";
    std::filesystem::remove(entry);
    const auto checked = [&] { return panel.menu(item).at(KestrinPlugin::kAutostartRow).checked; };
    const std::int32_t autostart = rows.at(KestrinPlugin::kAutostartRow).id;
    EXPECT_EQ(checked(), 0);
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on ? "switched on" : "switched off");
        panel.click(item, autostart);
        EXPECT_TRUE(runUntil([&] { return std::filesystem::exists(entry) == on; }, 5s));
        EXPECT_EQ(checked(), on ? 1 : 0);
    }
}

void xdotool(const std::string& arguments) {
    const std::string command = "xdotool " + arguments;
    ASSERT_TRUE(g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, nullptr, nullptr)) << command;
}

void pressAndHold(const std::string& keys) {
    xdotool("keydown " + keys);
    spin(300ms);
    xdotool("keyup " + keys);
}

// openbox on the test's display for as long as it lives: a real window manager decides focus,
// minimising and what is active.
class WindowManager {
public:
    WindowManager() {
        const char* argv[] = {"openbox", nullptr};
        g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &pid_, nullptr);
        GdkScreen* screen = gdk_screen_get_default();
        running_ = runUntil([&] {
            return gdk_x11_screen_supports_net_wm_hint(screen, gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"));
        }, 10s);
    }
    ~WindowManager() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        g_spawn_close_pid(pid_);
    }
    bool running() const { return running_; }

private:
    GPid pid_ = 0;
    bool running_ = false;
};

bool iconified(GtkWidget* window) {
    GdkWindow* surface = gtk_widget_get_window(window);
    return surface != nullptr && (gdk_window_get_state(surface) & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

TEST_F(TrayBundleTest, SuperShiftOTogglesTheWindowUnderAWindowManagerAndRestoresAMinimisedOne) {
    GtkApplication* application = testApplication();
    ASSERT_NE(application, nullptr);
    WindowManager openbox;
    ASSERT_TRUE(openbox.running());
    std::vector<bool> scenes;  // the application to the background (false) and back
    GtkSceneLifecycle lifecycle(application, [&](bool foreground) { scenes.push_back(foreground); });
    shell->loadPlugin();
    ASSERT_TRUE(shell->isPluginLoaded());
    GtkWidget* window = gtk_application_window_new(application);
    ASSERT_TRUE(activate(GTK_WINDOW(window), 5s));
    const auto shownWithTheFocus = [&] {
        return gtk_widget_get_mapped(window) && !iconified(window) && gtk_window_is_active(GTK_WINDOW(window));
    };
    for (const bool numLock : {false, true}) {
        SCOPED_TRACE(numLock ? "Num Lock on" : "Num Lock off");
        if (numLock) xdotool("key Num_Lock");
        // Held as a person holds them: the grab takes the focus from the window while the keys are
        // down, yet it counts as active.
        pressAndHold("super+shift+o");
        EXPECT_TRUE(runUntil([&] { return !gtk_widget_get_mapped(window); }, 5s)) << "in front and active: hidden";
        pressAndHold("super+shift+o");
        EXPECT_TRUE(runUntil(shownWithTheFocus, 5s)) << "shown again with the focus";
        if (numLock) xdotool("key Num_Lock");
    }
    EXPECT_EQ(scenes, (std::vector<bool>{false, true, false, true}));

    {
        // While a key grab holds the keyboard (as ours does while the hot key is down) GTK calls the
        // window inactive; the window manager still calls it active, and so does the application.
        Display* other = XOpenDisplay(nullptr);
        ASSERT_NE(other, nullptr);
        XGrabKeyboard(other, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        XSync(other, False);
        EXPECT_TRUE(runUntil([&] { return !gtk_window_is_active(GTK_WINDOW(window)); }, 5s));
        EXPECT_TRUE(GtkDesktopApplication([application] { return application; }).isActive());
        XCloseDisplay(other);
        ASSERT_TRUE(runUntil([&] { return gtk_window_is_active(GTK_WINDOW(window)); }, 5s));
    }

    gtk_window_iconify(GTK_WINDOW(window));
    ASSERT_TRUE(runUntil([&] { return iconified(window); }, 5s));
    pressAndHold("super+shift+o");
    EXPECT_TRUE(runUntil(shownWithTheFocus, 5s)) << "the minimised window comes back";
    spin(300ms);
    EXPECT_EQ(opened, 0) << "and no second window joins it";
    gtk_widget_destroy(window);
}

TEST(TrayTest, AHotKeyThatAnotherClientHoldsIsLoggedAndInstallStillCompletes) {
    X11GlobalHotKeys keys;
    const HotKeyRegistration other = keys.registerHotKey({"Super", "Shift", "o"}, [](const std::string&) {}, [](int) {});
    ASSERT_TRUE(other.key) << "the other client's grab, on a connection of its own";
    auto log = CapturingLogSink::install();
    auto application = std::make_shared<FakeDesktopApplication>();
    auto bar = std::make_shared<FakeStatusBar>();
    KestrinPlugin plugin(KestrinPlugin::Dependencies{
        .statusBar = bar, .application = application, .loginItem = nullptr, .resources = {},
        .applicationId = "jp.tomoriva.OrvanOffice", .clock = std::make_shared<SteadyClock>(),
        .hotKeys = std::make_shared<X11GlobalHotKeys>(), .makeUpdater = nullptr});
    plugin.installWithOpenWindow([] {}, [] {});
    EXPECT_EQ(log->lines(), std::vector<std::string>{"Kestrin: ⌘⇧O を登録できません (10)"});
    EXPECT_TRUE(application->calls.empty()) << "nothing toggles";
    EXPECT_NE(bar->item, nullptr) << "the tray item is there all the same";
    setLogSink(nullptr);
}

}  // namespace
}  // namespace orvan
