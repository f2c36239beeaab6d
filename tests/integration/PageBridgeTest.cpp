#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "linux/glib/GLibMainLoop.h"
#include "linux/webkit/OfficeWindow.h"
#include "linux/webkit/WebKitWebViewFactory.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/integration/GtkTestSupport.h"
#include "tests/integration/ShellTestServices.h"
#include "tools/webapp/StandInServer.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using std::chrono::milliseconds;

// Serves one fixed page on another host ("localhost" instead of "127.0.0.1"): a foreign origin.
class ForeignPageServer {
public:
    explicit ForeignPageServer(std::string html) : html_(std::move(html)) {
        server_ = soup_server_new(nullptr, nullptr);
        soup_server_add_handler(
            server_, nullptr,
            [](SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer self) {
                const auto& page = static_cast<ForeignPageServer*>(self)->html_;
                soup_server_message_set_status(message, 200, nullptr);
                soup_server_message_set_response(message, "text/html; charset=utf-8", SOUP_MEMORY_COPY,
                                                 page.data(), page.size());
            },
            this, nullptr);
        GError* error = nullptr;
        soup_server_listen_local(server_, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error);
        if (error != nullptr) g_error_free(error);
        GSList* uris = soup_server_get_uris(server_);
        port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~ForeignPageServer() { g_object_unref(server_); }
    ForeignPageServer(const ForeignPageServer&) = delete;
    ForeignPageServer& operator=(const ForeignPageServer&) = delete;
    std::string url() const { return "http://localhost:" + std::to_string(port_) + "/"; }

private:
    std::string html_;
    SoupServer* server_ = nullptr;
    int port_ = 0;
};

// Everything a frame could try to get a command run: the handlers of its own window, a port of
// its own offered to the top window's relay as if it were the bridge's, and (same origin only) the top
// window's relay event. Reports what happened to the top window.
constexpr const char* kAttackScript = R"JS(
(async () => {
  const results = [];
  try {
    await window.webkit.messageHandlers.orvanRecorder.postMessage({ cmd: 'start' });
    results.push('own handler answered');
  } catch (e) { results.push('own handler: ' + e); }
  try {
    const node = document.createElement('span');
    window.top.dispatchEvent(new MouseEvent('orvan:bridge-offer', { cancelable: true, relatedTarget: node }));
    node.dispatchEvent(new CustomEvent('orvan:bridge-request',
      { detail: JSON.stringify({ id: 1, channel: 'orvanRecorder', body: { cmd: 'start' } }) }));
    results.push('fake node sent');
  } catch (e) { results.push('fake node: ' + e); }
  try {
    await window.top.orvanMobile.startMeetingRecording();
    results.push('parent api answered');
  } catch (e) { results.push('parent api: ' + e); }
  window.top.postMessage({ frameReport: results }, '*');
})();
)JS";

class PageBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        allowedOrigin() = server.baseURL();
        services = makeShellServices(server.baseURL() + "/", factory());
        services.dispatcher = std::make_shared<CommandDispatcher>(CommandPorts{
            .recorder = recorder,
            .macShell = shell,
            .notifications = notifications,
            .opener = opener,
            .signIn = nullptr,
            .newUUID = [] { return std::string("uuid"); },
        });
    }

    void TearDown() override {
        for (GtkWindow* window : windows) gtk_widget_destroy(GTK_WIDGET(window));
        spin(milliseconds(50));
    }

    static std::string& allowedOrigin() {
        static std::string origin;
        return origin;
    }

    static std::filesystem::path recordings() { return applicationDataDirectory() / "recordings"; }

    static std::shared_ptr<WebKitWebViewFactory> factory() {
        static auto shared = [] {
            auto made = std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(), applicationCacheDirectory());
            made->serveRecordings(std::make_shared<RecordingSchemeHandler>(recordings(), [] { return allowedOrigin(); }));
            return made;
        }();
        return shared;
    }

    WebKitWebView* open() {
        GtkWindow* window = openOfficeWindow(nullptr, services);
        windows.push_back(window);
        auto* view = dynamic_cast<WebKitWebViewAdapter&>(*coordinatorOfWindow(window)->webView()).view();
        EXPECT_TRUE(waitForLoaded(view, server.baseURL() + "/"));
        return view;
    }

    // Runs `expression` (which may await) in the page and returns its value as JSON.
    nlohmann::json await(WebKitWebView* view, const std::string& expression) {
        const std::string script = "window.__result = undefined; (async () => { try { return { value: await (" +
                                   expression + ") }; } catch (e) { return { error: String(e && e.message) }; } })()"
                                   ".then(r => { window.__result = JSON.stringify(r === undefined ? null : r); }); 0";
        evaluate(view, script);
        std::optional<nlohmann::json> result;
        runUntil([&] {
            auto value = evaluate(view, "window.__result === undefined ? null : window.__result");
            if (value && value->is_string()) result = nlohmann::json::parse(value->get<std::string>());
            return result.has_value();
        });
        return result.value_or(nlohmann::json{{"timeout", true}});
    }

    webapp::StandInServer server;
    ShellServices services;
    std::vector<GtkWindow*> windows;
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<FakeMacShell> shell = std::make_shared<FakeMacShell>();
    std::shared_ptr<FakeUserNotificationCenter> notifications = std::make_shared<FakeUserNotificationCenter>();
    std::shared_ptr<FakeUrlOpener> opener = std::make_shared<FakeUrlOpener>();
};

TEST_F(PageBridgeTest, RecorderCommandsResolveAndRejectAsTheRecorderAnswers) {
    WebKitWebView* view = open();
    EXPECT_EQ(evaluate(view, "[window.orvanMobile.available, window.orvanMobile.platform]"),
              nlohmann::json::array({true, "mac"}));
    EXPECT_EQ(await(view, "window.orvanMobile.startMeetingRecording()"), nlohmann::json::object()) << "no value";
    EXPECT_EQ(await(view, "window.orvanMobile.pendingMeetingRecording()"), (nlohmann::json{{"value", nullptr}}));
    EXPECT_EQ(await(view, "window.orvanMobile.pendingMeetingRecording().then(v => v === null)"),
              (nlohmann::json{{"value", true}}));
    EXPECT_EQ(await(view, "window.orvanMobile.startMeetingRecording().then(v => v === undefined)"),
              (nlohmann::json{{"value", true}}));
    EXPECT_EQ(await(view, "window.orvanMobile.stopMeetingRecording()"), (nlohmann::json{{"value", "/rec/meeting.m4a"}}));
    recorder->failure = RecorderError::notRecording();
    EXPECT_EQ(await(view, "window.orvanMobile.pauseMeetingRecording()"), (nlohmann::json{{"error", "録音していません"}}));
    EXPECT_EQ(await(view, "window.orvanMobile.discardRecording('/rec/x')"), (nlohmann::json{{"error", "録音していません"}}));
    EXPECT_EQ(await(view, "window.orvanMobile.startOAuth({ url: 'https://accounts.google.com/x', callbackHost: 'h', callbackPath: '/p' })"),
              (nlohmann::json{{"value", "error"}}));
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"start", "pending", "pending", "start", "stop", "pause", "discard:/rec/x"}));
    EXPECT_EQ(shell->events, (std::vector<std::string>{"started", "started", "ended"}));
}

TEST_F(PageBridgeTest, ThePageWorldCannotReachTheHandlersDirectly) {
    WebKitWebView* view = open();
    EXPECT_EQ(evaluate(view, "typeof (window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.orvanRecorder)"),
              nlohmann::json("undefined"));
    EXPECT_EQ(evaluate(view, "typeof window.__orvanShellTransport"), nlohmann::json("undefined"));
}

TEST_F(PageBridgeTest, NoIframeGetsACommandRun) {
    ForeignPageServer foreign(std::string("<!doctype html><script>") + kAttackScript + "</script>");
    WebKitWebView* view = open();
    const std::string attack = std::string("<script>") + kAttackScript + "</script>";
    const std::string escaped = nlohmann::json(attack).dump();
    // Same origin (srcdoc), sandboxed, and cross-origin frames, each reporting what it tried.
    const std::string setup = "window.reports = []; addEventListener('message', e => { if (e.data && e.data.frameReport) "
                              "reports.push(e.data.frameReport); });"
                              "for (const [attr, value] of [['srcdoc', " + escaped + "], ['sandbox', 'allow-scripts']]) {"
                              "  const f = document.createElement('iframe');"
                              "  if (attr === 'sandbox') { f.setAttribute('sandbox', value); f.srcdoc = " + escaped + "; }"
                              "  else f.srcdoc = value;"
                              "  document.body.appendChild(f); }"
                              "const cross = document.createElement('iframe'); cross.src = '" + foreign.url() + "';"
                              "document.body.appendChild(cross); 0";
    // The page's own API stays out of reach of the frames only where the browser keeps origins
    // apart; the same-origin frame reaching the top window's functions is the web's own rule.
    evaluate(view, setup);
    ASSERT_TRUE(runUntil([&] { return evaluate(view, "reports.length") == nlohmann::json(3); }));
    spin(milliseconds(500));
    const auto reports = *evaluate(view, "reports");
    int apiCalls = 0;
    for (const auto& report : reports) {
        EXPECT_NE(report[0], "own handler answered") << report.dump();
        if (report[2] == "parent api answered") ++apiCalls;
    }
    // Only the same-origin frame can call into its parent at all; nothing else may run a command.
    EXPECT_LE(apiCalls, 1);
    EXPECT_EQ(recorder->calls.size(), static_cast<std::size_t>(apiCalls)) << reports.dump();

    // The top page still works after all that.
    recorder->calls.clear();
    EXPECT_EQ(await(view, "window.orvanMobile.stopMeetingRecording()"), (nlohmann::json{{"value", "/rec/meeting.m4a"}}));
}

TEST_F(PageBridgeTest, AForeignMainFrameNeverGetsTheRelayAndTheAppKeepsItsBridgeAcrossItsNavigations) {
    // A foreign page kept in the view (anyone can make one on a sign-in backend host) offers the
    // relay a node of its own, before and after the relay would be ready.
    ForeignPageServer foreign(R"(<!doctype html><script>
      const offer = () => !dispatchEvent(new MouseEvent('orvan:bridge-offer',
        { cancelable: true, relatedTarget: document.createElement('span') }));
      window.gotRelay = offer();
      addEventListener('orvan:bridge-ready', () => { if (offer()) window.gotRelay = true; }, true);
    </script>)");
    WebKitWebView* view = open();
    webkit_web_view_load_uri(view, foreign.url().c_str());
    ASSERT_TRUE(waitForLoaded(view, foreign.url()));
    spin(milliseconds(300));
    EXPECT_EQ(evaluate(view, "window.gotRelay"), nlohmann::json(false));
    EXPECT_EQ(evaluate(view, "typeof window.orvanMobile"), nlohmann::json("undefined"));

    // Back on the app, and on to another of its pages by a link: each document has its bridge.
    webkit_web_view_load_uri(view, (server.baseURL() + "/").c_str());
    ASSERT_TRUE(waitForLoaded(view, server.baseURL() + "/"));
    EXPECT_EQ(await(view, "window.orvanMobile.stopMeetingRecording()"), (nlohmann::json{{"value", "/rec/meeting.m4a"}}));
    evaluate(view, "document.querySelector('a[href=\"/chat\"]').click(); 0");
    ASSERT_TRUE(waitForLoaded(view, server.baseURL() + "/chat"));
    EXPECT_EQ(await(view, "window.orvanMobile.pendingMeetingRecording()"), (nlohmann::json{{"value", nullptr}}));
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"stop", "pending"}));
}

TEST_F(PageBridgeTest, NotificationIsReplacedAndFollowsTheShellPermission) {
    notifications->status = NotificationAuthorization::authorized;
    WebKitWebView* view = open();
    ASSERT_TRUE(runUntil([&] { return evaluate(view, "Notification.permission") == nlohmann::json("granted"); }));
    evaluate(view, "new Notification('件名', { body: '本文', tag: 't1' }); new Notification('静か', { silent: true }); new Notification(); 0");
    ASSERT_TRUE(runUntil([&] { return notifications->added.size() == 3; }));
    EXPECT_EQ(notifications->added[0].identifier, "web-t1");
    EXPECT_EQ(notifications->added[0].body, "本文");
    EXPECT_TRUE(notifications->added[0].sound);
    EXPECT_FALSE(notifications->added[1].sound);
    EXPECT_EQ(notifications->added[2].title, "");

    notifications->status = NotificationAuthorization::denied;
    EXPECT_EQ(await(view, "Notification.requestPermission()"), (nlohmann::json{{"value", "denied"}}));
    EXPECT_EQ(evaluate(view, "Notification.permission"), nlohmann::json("denied"));
}

TEST_F(PageBridgeTest, VisibilityFollowsTheShellEvents) {
    WebKitWebView* view = open();
    evaluate(view, "window.changes = 0; document.addEventListener('visibilitychange', () => changes++); 0");
    EXPECT_EQ(evaluate(view, "document.visibilityState"), nlohmann::json("visible"));
    evaluate(view, "dispatchEvent(new Event('orvan:hidden')); 0");
    EXPECT_EQ(evaluate(view, "[document.visibilityState, changes]"), nlohmann::json::array({"hidden", 1}));
    evaluate(view, "dispatchEvent(new Event('orvan:shown')); 0");
    EXPECT_EQ(evaluate(view, "[document.visibilityState, changes]"), nlohmann::json::array({"visible", 2}));
}

TEST_F(PageBridgeTest, BadgesAreSentWhenSignedInAndOnlyForTheNewestPoll) {
    WebKitWebView* view = open();
    spin(milliseconds(500));
    EXPECT_TRUE(shell->events.empty()) << "signed out: 401, nothing sent";

    server.setSignedIn(true);
    server.setBadgeCounts({{"chatUnread", 4}});
    evaluate(view, "dispatchEvent(new Event('office-badges-refresh')); dispatchEvent(new Event('office-badges-refresh')); 0");
    ASSERT_TRUE(runUntil([&] { return !shell->events.empty(); }));
    spin(milliseconds(500));
    ASSERT_EQ(shell->events.size(), 1u) << "two overlapping polls report once";
    EXPECT_NE(shell->events[0].find("\"chatUnread\":4"), std::string::npos) << shell->events[0];
}

TEST_F(PageBridgeTest, ReadRecordingReturnsTheFileAndFailsWithItsOwnMessage) {
    const auto dir = recordings() / "会議 2026-12-06";
    std::filesystem::create_directories(dir);
    const std::string bytes = std::string("ftypM4A ") + std::string(5000, 'a');
    std::ofstream(dir / "meeting final.m4a", std::ios::binary) << bytes;
    WebKitWebView* view = open();
    const std::string path = nlohmann::json((dir / "meeting final.m4a").string()).dump();
    EXPECT_EQ(await(view, "window.orvanMobile.readRecording(" + path + ").then(b => [b.byteLength, new Uint8Array(b)[0]])"),
              (nlohmann::json{{"value", {bytes.size(), 'f'}}}));
    const std::string outside = nlohmann::json((dir / ".." / ".." / "webkit" / "x").string()).dump();
    EXPECT_EQ(await(view, "window.orvanMobile.readRecording(" + outside + ")"),
              (nlohmann::json{{"error", "録音ファイルを読めませんでした"}}));
    EXPECT_EQ(await(view, "window.orvanMobile.readRecording('/etc/passwd')"),
              (nlohmann::json{{"error", "録音ファイルを読めませんでした"}}));
    std::filesystem::remove_all(dir);
}

// Waits for the page's own one-minute poll, so this test takes a little over a minute.
TEST_F(PageBridgeTest, AStalePageReloadsOnlyWhenHiddenIdleAndNotRecording) {
    server.setDeploymentId("one");
    WebKitWebView* view = open();
    auto versionPolls = [&] {
        int count = 0;
        for (const auto& r : server.requests()) count += r.path == "/api/version" ? 1 : 0;
        return count;
    };
    ASSERT_TRUE(runUntil([&] { return versionPolls() == 1; }));
    server.setDeploymentId("two");
    evaluate(view, "window.mark = 1; document.body.insertAdjacentHTML('beforeend', '<input id=field>'); 0");
    ASSERT_TRUE(runUntil([&] { return versionPolls() == 2; }, milliseconds(75000)));
    spin(milliseconds(300));
    EXPECT_EQ(evaluate(view, "window.mark"), nlohmann::json(1)) << "stale but visible: kept";

    evaluate(view, "window.__orvanRecordingActive = true; dispatchEvent(new Event('orvan:hidden')); 0");
    spin(milliseconds(300));
    EXPECT_EQ(evaluate(view, "window.mark"), nlohmann::json(1)) << "hidden while recording: kept";

    evaluate(view, "window.__orvanRecordingActive = false; document.getElementById('field').focus();"
                   "dispatchEvent(new Event('orvan:shown')); dispatchEvent(new Event('orvan:hidden')); 0");
    spin(milliseconds(300));
    EXPECT_EQ(evaluate(view, "window.mark"), nlohmann::json(1)) << "hidden with an input focused: kept";

    evaluate(view, "document.getElementById('field').blur(); dispatchEvent(new Event('orvan:shown'));"
                   "dispatchEvent(new Event('orvan:hidden')); 0");
    EXPECT_TRUE(runUntil([&] { return evaluate(view, "window.mark === undefined") == nlohmann::json(true); }))
        << "hidden, idle, not recording: reloaded";
}

TEST_F(PageBridgeTest, WindowOpenSendsOrdinaryLinksOutAndKeepsSignInPages) {
    WebKitWebView* view = open();
    EXPECT_EQ(evaluate(view, "window.open('/tasks')"), nlohmann::json(nullptr));
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 1; }));
    EXPECT_EQ(opener->opened[0], server.baseURL() + "/tasks");
    opener->finishAll();
    evaluate(view, "window.open('https://abc.supabase.co/auth'); window.open('https://accounts.google.com/o'); "
                   "window.open('https://mail.google.com/x'); window.open('mailto:a@b.jp'); 0");
    spin(milliseconds(500));
    ASSERT_EQ(opener->opened.size(), 1u) << "sign-in hosts and other schemes use the page's own window.open";
}

}  // namespace
}  // namespace orvan
