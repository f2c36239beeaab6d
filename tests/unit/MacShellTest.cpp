#include <gtest/gtest.h>

#include <filesystem>

#include "macshell/MacShell.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeKestrinPorts.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

using namespace orvan::testing;

FakeKestrin* created = nullptr;

const char* thisProtocol() { return kestrin::kProtocolIdentity; }
const char* otherProtocol() { return "KestrinProtocol/0"; }
KestrinProtocol* create(const char* principalClass) {
    if (std::string(principalClass) != "KestrinPlugin") return nullptr;
    created = new FakeKestrin();
    return created;
}
void destroy(KestrinProtocol* instance) { delete instance; }

template <typename Function>
void* symbol(Function function) {
    return reinterpret_cast<void*>(function);
}

FakePluginBundle goodBundle() {
    FakePluginBundle bundle;
    bundle.info = {{"CFBundleExecutable", "Kestrin"}, {"NSPrincipalClass", "KestrinPlugin"}};
    bundle.symbols = {{kestrin::kProtocolSymbol, symbol(&thisProtocol)},
                      {kestrin::kCreateSymbol, symbol(&create)},
                      {kestrin::kDestroySymbol, symbol(&destroy)}};
    return bundle;
}

class MacShellTest : public ::testing::Test {
protected:
    MacShellTest() {
        std::filesystem::create_directories(plugIns);
        loader->bundle = goodBundle();
        created = nullptr;
        shell = std::make_unique<MacShell>(dependencies(loader, badge, notifications));
    }
    ~MacShellTest() override { setLogSink(nullptr); }

    // A shell on these fakes whose identifiers count up ("uuid-1", ...).
    MacShell::Dependencies dependencies(std::shared_ptr<FakePluginLoader> pluginLoader,
                                        std::shared_ptr<FakeApplicationBadge> iconBadge,
                                        std::shared_ptr<FakeUserNotificationCenter> posted) {
        return {.plugInsFolder = plugIns, .loader = std::move(pluginLoader), .mainLoop = &loop, .center = center,
                .notifications = std::move(posted), .badge = std::move(iconBadge),
                .openWindow = [this] { ++windowsOpened; },
                .newUUID = [this] { return "uuid-" + std::to_string(++uuids); }};
    }

    std::vector<std::string> evaluatedAfter(const char* notification) {
        std::vector<std::string> scripts;
        auto token = center->addObserver(notification_names::kEvaluate, [&](const Notification& n) {
            scripts.push_back(std::any_cast<std::string>(n.object));
        });
        center->post(notification);
        loop.runUntilIdle();
        return scripts;
    }

    FakeMainLoop loop;
    std::shared_ptr<CapturingLogSink> log = CapturingLogSink::install();
    TempDirectory temp{"orvan-macshell"};
    std::filesystem::path plugIns = temp.path() / "PlugIns";
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create(loop);
    std::shared_ptr<FakePluginLoader> loader = std::make_shared<FakePluginLoader>();
    std::shared_ptr<FakeUserNotificationCenter> notifications = std::make_shared<FakeUserNotificationCenter>();
    std::shared_ptr<FakeApplicationBadge> badge = std::make_shared<FakeApplicationBadge>();
    std::unique_ptr<MacShell> shell;
    int windowsOpened = 0;
    int uuids = 0;
};

TEST_F(MacShellTest, EveryRefusedBundleIsOneLogLineAndNothingElse) {
    struct Case {
        const char* name;
        void (*spoil)(std::filesystem::path& folder, std::optional<FakePluginBundle>& bundle);
    };
    const Case cases[] = {
        {"no plug-ins folder", [](auto& folder, auto&) { folder /= "missing"; }},
        {"no bundle", [](auto&, auto& bundle) { bundle.reset(); }},
        {"does not load", [](auto&, auto& bundle) { bundle->loads = false; }},
        {"no principal class", [](auto&, auto& bundle) { bundle->info.erase("NSPrincipalClass"); }},
        {"another protocol", [](auto&, auto& bundle) { bundle->symbols[kestrin::kProtocolSymbol] = symbol(&otherProtocol); }},
        {"no protocol identity", [](auto&, auto& bundle) { bundle->symbols.erase(kestrin::kProtocolSymbol); }},
        {"no factory", [](auto&, auto& bundle) { bundle->symbols.erase(kestrin::kCreateSymbol); }},
        {"class of another name", [](auto&, auto& bundle) { bundle->info["NSPrincipalClass"] = "Other"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto lines = CapturingLogSink::install();
        auto fakeLoader = std::make_shared<FakePluginLoader>();
        fakeLoader->bundle = goodBundle();
        std::filesystem::path folder = plugIns;
        c.spoil(folder, fakeLoader->bundle);
        created = nullptr;
        auto refusedBadge = std::make_shared<FakeApplicationBadge>();
        auto refusedNotifications = std::make_shared<FakeUserNotificationCenter>();
        auto dependencies = this->dependencies(fakeLoader, refusedBadge, refusedNotifications);
        dependencies.plugInsFolder = folder;
        MacShell refused(dependencies);
        refused.loadPlugin();
        EXPECT_FALSE(refused.isPluginLoaded());
        EXPECT_EQ(created, nullptr);
        EXPECT_EQ(lines->lines(), std::vector<std::string>{MacShell::kLoadFailedLine});
        EXPECT_TRUE(evaluatedAfter(notification_names::kSceneDidEnterBackground).empty()) << "no observers without a plug-in";
        // Without a plug-in the icon badge and the notification still happen.
        refused.applyBadges(nlohmann::json{{"outbox", 1}, {"notifications", 1}, {"chatUnread", 0}});
        refused.applyBadges(nlohmann::json{{"outbox", 2}, {"notifications", 1}, {"chatUnread", 0}});
        EXPECT_EQ(refusedBadge->counts, (std::vector<std::int64_t>{1, 1}));
        EXPECT_EQ(refusedNotifications->added.size(), 1u);
    }
}

TEST_F(MacShellTest, LoadingInstallsInOrderAndTheBlocksReachTheApplication) {
    shell->loadPlugin();
    ASSERT_TRUE(shell->isPluginLoaded());
    ASSERT_NE(created, nullptr);
    FakeKestrin& plugin = *created;
    EXPECT_EQ(plugin.calls, (std::vector<std::string>{"install", "popupHandler", "watch"}));
    EXPECT_EQ(loader->opened, std::vector<std::filesystem::path>{plugIns / "Kestrin.bundle"});

    int reloads = 0;
    auto token = center->addObserver(notification_names::kReload, [&](const Notification&) { ++reloads; });
    plugin.reload();
    plugin.openWindow();
    loop.runUntilIdle();
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(windowsOpened, 1);

    // Events are not handled inside the plug-in's call: each gets a task of its own.
    plugin.watch("started", "Zoom");
    plugin.popupHandler("start");
    EXPECT_EQ(loop.pending(), 2u);
    loop.runUntilIdle();

    EXPECT_EQ(evaluatedAfter(notification_names::kSceneDidEnterBackground),
              std::vector<std::string>{"window.dispatchEvent(new Event('orvan:hidden'));"});
    EXPECT_EQ(evaluatedAfter(notification_names::kSceneWillEnterForeground),
              std::vector<std::string>{"window.dispatchEvent(new Event('orvan:shown'));"});

    shell->loadPlugin();
    EXPECT_EQ(loader->opened.size(), 1u) << "a second load changes nothing";
    EXPECT_EQ(log->lines(), std::vector<std::string>{MacShell::kLoadFailedLine});
}

TEST_F(MacShellTest, BadgeUpdatesSetTheTitleTheIconCountAndNotifyWhatRose) {
    using json = nlohmann::json;
    struct Case {
        const char* name;
        std::optional<json> previous;
        json counts;
        std::optional<std::string> title;
        std::optional<std::int64_t> iconCount;
        std::optional<std::string> body;  // none: no notification
        bool sound = false;
    };
    const Case cases[] = {
        {"all zero", std::nullopt, json::object(), std::nullopt, std::nullopt, std::nullopt},
        {"mentions are not in the total", std::nullopt, {{"chatMentions", 3}}, std::nullopt, std::nullopt, std::nullopt},
        {"icon = notifications + unread", std::nullopt, {{"notifications", 2}, {"chatUnread", 3}}, "3", 5, std::nullopt},
        {"icon needs both numbers", std::nullopt, {{"notifications", 2}}, std::nullopt, std::nullopt, std::nullopt},
        {"strings, negatives, fractions, booleans", std::nullopt,
         {{"outbox", "4"}, {"approvals", -2}, {"todayFocus", 2.9}, {"companyVerify", true}, {"salesToday", -0.5}}, "3",
         std::nullopt, std::nullopt},
        {"huge values saturate", std::nullopt, {{"salesToday", 1e30}, {"outbox", 18446744073709551615ull}},
         "9223372036854775807", std::nullopt, std::nullopt},
        {"the first update is only the baseline", std::nullopt, {{"chatDirect", 50}, {"outbox", 9}}, "9", std::nullopt,
         std::nullopt},
        {"rises in table order, with sound", json{{"outbox", 1}}, {{"outbox", 3}, {"chatDirect", 1}}, "3", std::nullopt,
         "送信承認待ち 3件（+2） / DM 1件（+1）", true},
        {"mentions after direct messages", json{{"chatUnread", 3}}, {{"chatUnread", 5}, {"chatMentions", 1}, {"chatDirect", 2}},
         "5", std::nullopt, "未読メッセージ 5件（+2） / DM 2件（+2） / 自分宛メンション 1件（+1）", true},
        {"no sound without direct messages or mentions", json{{"salesToday", 1}}, {{"salesToday", 2}}, "2", std::nullopt,
         "今日の凸リスト 2件（+1）", false},
        {"a fall is no news", json{{"salesToday", 5}}, {{"salesToday", 4}}, "4", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto fakeLoader = std::make_shared<FakePluginLoader>();
        fakeLoader->bundle = goodBundle();
        auto fakeBadge = std::make_shared<FakeApplicationBadge>();
        auto fakeNotifications = std::make_shared<FakeUserNotificationCenter>();
        MacShell badges(dependencies(fakeLoader, fakeBadge, fakeNotifications));
        badges.loadPlugin();
        FakeKestrin& plugin = *created;
        if (c.previous) badges.applyBadges(*c.previous);
        plugin.titles.clear();
        fakeBadge->counts.clear();
        badges.applyBadges(c.counts);

        EXPECT_EQ(plugin.titles, std::vector<std::optional<std::string>>{c.title});
        EXPECT_EQ(fakeBadge->counts, c.iconCount ? std::vector<std::int64_t>{*c.iconCount} : std::vector<std::int64_t>{});
        ASSERT_EQ(fakeNotifications->added.size(), c.body ? 1u : 0u);
        if (!c.body) continue;
        const NotificationRequest& shown = fakeNotifications->added[0];
        EXPECT_EQ(shown.title, "トモリバ");
        EXPECT_EQ(shown.body, c.body);
        EXPECT_EQ(shown.sound, c.sound);
        EXPECT_EQ(shown.identifier, "uuid-" + std::to_string(uuids)) << "a fresh identifier each time";
    }
}

TEST_F(MacShellTest, BadgesThatArriveBeforeThePlugInAreShownOnItWhenItLoads) {
    shell->applyBadges(nlohmann::json{{"outbox", 2}, {"chatUnread", 1}});
    shell->loadPlugin();
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->titles, std::vector<std::optional<std::string>>{"3"});
}

TEST_F(MacShellTest, ACaptureFailureEndsInASavedRecording) {
    auto recorder = std::make_shared<FakeRecorder>();
    std::vector<std::string> opened;
    MacShell withSession(
        dependencies(loader, badge, notifications),
        MeetingSessionCoordinator::Dependencies{
            .mainLoop = nullptr, .timers = nullptr, .recorder = std::make_shared<RecorderActivity>(recorder),
            .center = nullptr, .notifications = nullptr,
            .newUUID = nullptr, .appURL = [] { return *Url::parse("https://app.example/"); },
            .openInternal = [&](const Url& url) { opened.push_back(url.string()); }});
    withSession.loadPlugin();
    center->post(notification_names::kCaptureFailed, std::string("サウンドサーバーが止まりました"));
    loop.runUntilIdle();
    EXPECT_EQ(recorder->calls, std::vector<std::string>{"stop"});
    ASSERT_EQ(notifications->added.size(), 1u);
    EXPECT_EQ(notifications->added[0].title, "会議の録音を保存しました");
    EXPECT_EQ(opened, std::vector<std::string>{"https://app.example/meeting-notes/record?mode=desktop-app"});
}

}  // namespace
}  // namespace orvan
