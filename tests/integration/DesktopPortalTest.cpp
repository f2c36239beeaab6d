// The desktop portal adapters (global shortcuts, launch at login in a sandbox) against a portal of
// the tests' own on the private session bus, through the companion's logic.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "linux/dbus/PortalBackgroundLoginItem.h"
#include "linux/dbus/PortalGlobalShortcuts.h"
#include "plugin/KestrinPlugin.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeKestrinPorts.h"
#include "tests/fakes/FakeUserDefaults.h"
#include "tests/integration/FakeBusService.h"
#include "tests/integration/GtkTestSupport.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using namespace std::chrono_literals;

constexpr const char* kPortalXml = R"xml(<node><interface name="org.freedesktop.portal.Background">
  <method name="RequestBackground"><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method></interface>
<interface name="org.freedesktop.portal.GlobalShortcuts">
  <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
    <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
  <property name="version" type="u" access="read"/></interface></node>)xml";

// A desktop portal on its own connection, answering each request as configured. It sends the
// Response before the method's reply, as a quick portal may: a client must already listen.
class FakeDesktopPortal {
public:
    struct Answers {
        bool globalShortcuts = true;
        guint32 session = 0, bind = 0, background = 0;
        bool bindLeavesOurOut = false, grantAutostart = true;
    };

    explicit FakeDesktopPortal(Answers configured)
        : answers(configured),
          bus_(kPortalXml, kPortalObject,
               [this](const std::string& sender, const std::string& method, GVariant* parameters,
                      GDBusMethodInvocation* invocation) { called(sender, method, parameters, invocation); },
               configured.globalShortcuts ? 2 : 1,
               +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**, gpointer) {
                   return g_variant_new_uint32(1);  // the GlobalShortcuts version
               }) {
        if (!bus_.own(kPortalService)) throw std::runtime_error("cannot own the portal's name");
    }

    void emitActivated(const std::string& shortcut, const std::string& token) {
        bus_.emit("org.freedesktop.portal.GlobalShortcuts", "Activated",
                  g_variant_new_parsed("(%o, %s, @t 1000, {'activation_token': <%s>})", session.c_str(),
                                       shortcut.c_str(), token.c_str()));
    }

    Answers answers;
    std::string session, boundId, boundTrigger;
    // What each RequestBackground asked: autostart, and the command line.
    std::vector<std::pair<bool, std::vector<std::string>>> backgroundRequests;

private:
    // Where the portal puts the object named by `token` for `sender` (":1.5" -> "1_5").
    static std::string pathFor(std::string sender, const char* folder, const char* token) {
        for (char& c : sender) c = c == '.' ? '_' : c;
        return std::string(kPortalObject) + "/" + folder + "/" + sender.substr(1) + "/" + token;
    }

    void called(const std::string& sender, const std::string& method, GVariant* parameters,
                GDBusMethodInvocation* invocation) {
        const VariantPtr options(g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1));
        const gchar *token = "", *id = "", *trigger = "";
        g_variant_lookup(options.get(), "handle_token", "&s", &token);
        const std::string request = pathFor(sender, "request", token);
        guint32 response = answers.background;
        GVariant* results = nullptr;
        if (method == "CreateSession") {
            g_variant_lookup(options.get(), "session_handle_token", "&s", &token);
            session = pathFor(sender, "session", token);
            response = answers.session;
            results = g_variant_new_parsed("{'session_handle': <%s>}", session.c_str());
        } else if (method == "BindShortcuts") {
            const VariantPtr shortcuts(g_variant_get_child_value(parameters, 1));
            GVariant* properties = nullptr;
            g_variant_get_child(shortcuts.get(), 0, "(&s@a{sv})", &id, &properties);
            g_variant_lookup(properties, "preferred_trigger", "&s", &trigger);
            boundId = id;
            boundTrigger = trigger;
            g_variant_unref(properties);
            response = answers.bind;
            results = answers.bindLeavesOurOut
                          ? g_variant_new_parsed("{'shortcuts': <@a(sa{sv}) []>}")
                          : g_variant_new_parsed("{'shortcuts': <[(%s, {'trigger_description': <'Super+Shift+O'>})]>}",
                                                 boundId.c_str());
        } else {
            gboolean autostart = FALSE;
            const gchar** words = nullptr;
            g_variant_lookup(options.get(), "autostart", "b", &autostart);
            g_variant_lookup(options.get(), "commandline", "^a&s", &words);
            std::vector<std::string> command;
            for (const gchar** word = words; word != nullptr && *word != nullptr; ++word) command.emplace_back(*word);
            backgroundRequests.emplace_back(autostart, command);
            g_free(words);
            results = g_variant_new_parsed("{'background': <true>, 'autostart': <%b>}",
                                           static_cast<gboolean>(autostart && answers.grantAutostart));
        }
        bus_.emit("org.freedesktop.portal.Request", "Response", g_variant_new("(u@a{sv})", response, results),
                  sender.c_str(), request.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    }

    FakeBusService bus_;
};

GObjectPtr<GDBusConnection> sessionBus() {
    return GObjectPtr<GDBusConnection>::take(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
}

struct Companion {
    explicit Companion(std::shared_ptr<GlobalHotKeys> hotKeys, std::shared_ptr<LoginItem> login = nullptr)
        : plugin(KestrinPlugin::Dependencies{.statusBar = nullptr, .application = application, .loginItem = login,
                                             .resources = {}, .applicationId = "jp.tomoriva.OrvanOffice",
                                             .clock = std::make_shared<SteadyClock>(), .hotKeys = hotKeys,
                                             .makeUpdater = nullptr}) {
        plugin.installWithOpenWindow([] {}, [] {});
    }
    std::shared_ptr<FakeDesktopApplication> application = std::make_shared<FakeDesktopApplication>();
    KestrinPlugin plugin;
};

TEST(DesktopPortalTest, TheShortcutIsBoundAndOnlyItsOwnActivationTogglesLikeAClick) {
    FakeDesktopPortal portal({});
    auto log = CapturingLogSink::install();
    Companion companion(std::make_shared<PortalGlobalShortcuts>(sessionBus(), "toggle"));
    ASSERT_TRUE(runUntil([&] { return !portal.boundId.empty(); }, 5s));
    EXPECT_EQ(portal.boundTrigger, "LOGO+SHIFT+o");
    portal.emitActivated("another", "token-0");
    portal.emitActivated(portal.boundId, "token-1");
    ASSERT_TRUE(runUntil([&] { return !companion.application->calls.empty(); }, 5s));
    EXPECT_EQ(companion.application->calls, (std::vector<std::string>{"unhide", "activate:token-1"}));
    EXPECT_EQ(log->lines(), std::vector<std::string>{});
    setLogSink(nullptr);
}

TEST(DesktopPortalTest, WhereThePortalDoesNotBindTheShortcutTheLineSaysWhy) {
    struct Case {
        const char* name;
        std::optional<FakeDesktopPortal::Answers> portal;
        int code;
    };
    const Case cases[] = {
        {"no portal", std::nullopt, GlobalHotKeys::kUnavailable},
        {"a portal without GlobalShortcuts", FakeDesktopPortal::Answers{.globalShortcuts = false}, -2},
        {"session refused", FakeDesktopPortal::Answers{.session = 2}, -3},
        {"binding cancelled by the user", FakeDesktopPortal::Answers{.bind = 1}, -4},
        {"bound without ours", FakeDesktopPortal::Answers{.bindLeavesOurOut = true}, -4},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::optional<FakeDesktopPortal> portal;
        if (row.portal) portal.emplace(*row.portal);
        auto log = CapturingLogSink::install();
        Companion companion(std::make_shared<PortalGlobalShortcuts>(sessionBus(), "toggle"));
        EXPECT_TRUE(runUntil([&] { return !log->lines().empty(); }, 5s));
        ASSERT_FALSE(log->lines().empty());
        EXPECT_EQ(log->lines().front(), "Kestrin: ⌘⇧O を登録できません (" + std::to_string(row.code) + ")");
    }
    setLogSink(nullptr);
}

TEST(DesktopPortalTest, LaunchAtLoginInASandboxFollowsWhatThePortalGranted) {
    FakeDesktopPortal portal({});
    auto remembered = std::make_shared<FakeUserDefaults>();
    const std::vector<std::string> command{"/app/bin/orvanoffice"};
    auto login = std::make_shared<PortalBackgroundLoginItem>(sessionBus(), command, remembered, "reason");
    Companion companion(nullptr, login);
    struct Step {
        guint32 response;
        bool grantAutostart, on;
        const char* failure;
    };
    const Step steps[] = {
        {1, true, false, "ユーザーが許可しませんでした"},
        {0, false, false, "自動起動が許可されませんでした"},  // background granted, autostart not
        {0, true, true, nullptr},
        {0, true, false, nullptr},  // switched off again
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(&step - steps);
        auto log = CapturingLogSink::install();
        portal.answers.background = step.response;
        portal.answers.grantAutostart = step.grantAutostart;
        const bool asked = !login->enabled();
        companion.plugin.toggleAutostart();
        EXPECT_TRUE(runUntil([&] { return step.failure ? !log->lines().empty() : login->enabled() == step.on; }, 5s));
        ASSERT_FALSE(portal.backgroundRequests.empty());
        EXPECT_EQ(portal.backgroundRequests.back(), std::make_pair(asked, command));
        EXPECT_EQ(log->lines(), step.failure ? std::vector<std::string>{std::string("Kestrin: 自動起動の切り替えに失敗: ") +
                                                                          step.failure}
                                             : std::vector<std::string>{});
        EXPECT_EQ(login->enabled(), step.on);
        EXPECT_EQ(PortalBackgroundLoginItem(sessionBus(), command, remembered, "").enabled(), step.on)
            << "remembered for the next launch";
    }
    setLogSink(nullptr);
}

}  // namespace
}  // namespace orvan
