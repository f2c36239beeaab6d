#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <filesystem>
#include <fstream>

#include "tests/integration/ShellWindowFixture.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using nlohmann::json;
using std::chrono::milliseconds;

// Serves one fixed page on another host ("localhost" instead of "127.0.0.1"): a foreign origin.
class ForeignPageServer {
public:
    explicit ForeignPageServer(std::string html) : html_(std::move(html)), server_(soup_server_new(nullptr, nullptr)) {
        soup_server_add_handler(
            server_, nullptr,
            [](SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer self) {
                const auto& page = static_cast<ForeignPageServer*>(self)->html_;
                soup_server_message_set_status(message, 200, nullptr);
                soup_server_message_set_response(message, "text/html; charset=utf-8", SOUP_MEMORY_COPY, page.data(),
                                                 page.size());
            },
            this, nullptr);
        soup_server_listen_local(server_, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
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
    SoupServer* server_;
    int port_ = 0;
};

// Everything a frame could try to get a command run: a posting function in its own window, a node of
// its own offered to the top window's relay as if it were the bridge's, and (same origin only) the top
// window's relay event. Reports what happened to the top window.
constexpr const char* kAttackScript = R"JS(
(async () => {
  const results = [];
  try {
    await new Promise((resolve) => window.__orvanPost('orvanRecorder',
      JSON.stringify({ origin: location.origin, body: { cmd: 'start' } }), resolve));
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

class PageBridgeTest : public ShellWindowFixture {
protected:
    // Awaits `expression` in the page: {"value": ...} (no key for undefined) or {"error": message}.
    static json await(WebKitWebView* view, const std::string& expression) {
        return callAsync(view, "try { return { value: await (" + expression +
                                   ") }; } catch (e) { return { error: String(e && e.message) }; }");
    }
};

TEST_F(PageBridgeTest, RecorderCommandsResolveAndRejectAsTheRecorderAnswers) {
    WebKitWebView* view = open();
    EXPECT_EQ(evaluate(view, "[window.orvanMobile.available, window.orvanMobile.platform]"), json::array({true, "mac"}));
    const struct {
        const char* call;
        json answer;
    } cases[] = {
        {"startMeetingRecording().then(v => v === undefined)", {{"value", true}}},
        {"pendingMeetingRecording().then(v => v === null)", {{"value", true}}},
        {"stopMeetingRecording()", {{"value", "/rec/meeting.m4a"}}},
        {"startOAuth({ url: 'https://accounts.google.com/x', callbackHost: 'h', callbackPath: '/p' })", {{"value", "error"}}},
        // A body nests 64 levels at most (the body and n arrays); deeper is refused, uncopied.
        {"discardRecording(nested(63))", json::object()},
        {"discardRecording(nested(64))", {{"error", "不正な呼び出しです"}}},
        {"discardRecording(nested(20000))", {{"error", "不正な呼び出しです"}}},
    };
    evaluate(view, "window.nested = (n) => { let a = 'x'; for (let i = 0; i < n; i++) a = [a]; return a; }; 0");
    for (const auto& c : cases) EXPECT_EQ(await(view, std::string("window.orvanMobile.") + c.call), c.answer) << c.call;
    recorder->failure = RecorderError::notRecording();
    EXPECT_EQ(await(view, "window.orvanMobile.discardRecording('/rec/x')"), (json{{"error", "録音していません"}}));
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"start", "pending", "stop", "discard:/rec/x"}));
}

TEST_F(PageBridgeTest, NeitherThePageWorldNorAnyIframeGetsACommandRun) {
    WebKitWebView* view = open();
    EXPECT_EQ(evaluate(view, "[typeof window.__orvanPost, typeof window.__orvanShellTransport]"),
              json::array({"undefined", "undefined"}));

    ForeignPageServer foreign(std::string("<!doctype html><script>") + kAttackScript + "</script>");
    const std::string attack = json(std::string("<script>") + kAttackScript + "</script>").dump();
    // Same origin (srcdoc), sandboxed, and cross-origin frames, each reporting what it tried.
    evaluate(view, "window.reports = []; addEventListener('message', e => { if (e.data && e.data.frameReport) "
                   "reports.push(e.data.frameReport); });"
                   "const same = document.createElement('iframe'); same.srcdoc = " + attack + "; document.body.appendChild(same);"
                   "const boxed = document.createElement('iframe'); boxed.setAttribute('sandbox', 'allow-scripts');"
                   "boxed.srcdoc = " + attack + "; document.body.appendChild(boxed);"
                   "const cross = document.createElement('iframe'); cross.src = '" + foreign.url() + "';"
                   "document.body.appendChild(cross); 0");
    ASSERT_TRUE(runUntil([&] { return evaluate(view, "reports.length") == json(3); }));
    spin(milliseconds(500));
    const auto reports = *evaluate(view, "reports");
    // Only the same-origin frame can call into its parent's API at all (the web's own rule); no
    // frame reaches a handler or gets a forged port accepted.
    int apiCalls = 0;
    for (const auto& report : reports) {
        EXPECT_NE(report[0], "own handler answered") << report.dump();
        if (report[2] == "parent api answered") ++apiCalls;
    }
    EXPECT_LE(apiCalls, 1);
    EXPECT_EQ(recorder->calls.size(), static_cast<std::size_t>(apiCalls)) << reports.dump();

    // No frame's offer took the relay from the top page.
    recorder->calls.clear();
    EXPECT_EQ(await(view, "window.orvanMobile.stopMeetingRecording()"), (json{{"value", "/rec/meeting.m4a"}}));
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
    EXPECT_EQ(evaluate(view, "[window.gotRelay, typeof window.orvanMobile]"), json::array({false, "undefined"}));

    // Back on the app, and on to another of its pages by a link: each document has its bridge.
    webkit_web_view_load_uri(view, url("/").c_str());
    ASSERT_TRUE(waitForLoaded(view, url("/")));
    EXPECT_EQ(await(view, "window.orvanMobile.stopMeetingRecording()"), (json{{"value", "/rec/meeting.m4a"}}));
    evaluate(view, "document.querySelector('a[href=\"/chat\"]').click(); 0");
    ASSERT_TRUE(waitForLoaded(view, url("/chat")));
    EXPECT_EQ(await(view, "window.orvanMobile.pendingMeetingRecording()"), (json{{"value", nullptr}}));
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"stop", "pending"}));
}

TEST_F(PageBridgeTest, NotificationsVisibilityAndBadgesFollowTheShell) {
    notifications->status = NotificationAuthorization::authorized;
    WebKitWebView* view = open();
    ASSERT_TRUE(runUntil([&] { return evaluate(view, "Notification.permission") == json("granted"); }));
    evaluate(view, "new Notification('件名', { body: '本文', tag: 't1' }); new Notification('静か', { silent: true }); 0");
    ASSERT_TRUE(runUntil([&] { return notifications->added.size() == 2; }));
    EXPECT_EQ(notifications->added[0].identifier, "web-t1");
    EXPECT_EQ(notifications->added[0].body, "本文");
    EXPECT_FALSE(notifications->added[1].sound);
    notifications->status = NotificationAuthorization::denied;
    EXPECT_EQ(await(view, "Notification.requestPermission()"), (json{{"value", "denied"}}));
    EXPECT_EQ(evaluate(view, "Notification.permission"), json("denied"));

    evaluate(view, "window.changes = 0; document.addEventListener('visibilitychange', () => changes++); 0");
    evaluate(view, "dispatchEvent(new Event('orvan:hidden')); 0");
    EXPECT_EQ(evaluate(view, "[document.visibilityState, changes]"), json::array({"hidden", 1}));
    evaluate(view, "dispatchEvent(new Event('orvan:shown')); 0");
    EXPECT_EQ(evaluate(view, "[document.visibilityState, changes]"), json::array({"visible", 2}));

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
    const std::string path = json((dir / "meeting final.m4a").string()).dump();
    EXPECT_EQ(await(view, "window.orvanMobile.readRecording(" + path + ").then(b => [b.byteLength, new Uint8Array(b)[0]])"),
              (json{{"value", {bytes.size(), 'f'}}}));
    EXPECT_EQ(await(view, "window.orvanMobile.readRecording('/etc/passwd')"), (json{{"error", "録音ファイルを読めませんでした"}}));
    std::filesystem::remove_all(dir);
}

TEST_F(PageBridgeTest, AStalePageReloadsOnlyWhenHiddenIdleAndNotRecording) {
    services.pagePollInterval = milliseconds(200);
    server.setDeploymentId("one");
    WebKitWebView* view = open();
    auto versionPolls = [&] {
        int count = 0;
        for (const auto& r : server.requests()) count += r.path == "/api/version" ? 1 : 0;
        return count;
    };
    ASSERT_TRUE(runUntil([&] { return versionPolls() >= 1; }));
    evaluate(view, "window.mark = 1; document.body.insertAdjacentHTML('beforeend', '<input id=field>'); 0");
    server.setDeploymentId("two");
    const int before = versionPolls();
    ASSERT_TRUE(runUntil([&] { return versionPolls() >= before + 2; }));
    const auto keptAfter = [&](const std::string& script) {
        evaluate(view, script + "; 0");
        const int now = versionPolls();
        runUntil([&] { return versionPolls() >= now + 2; });
        return evaluate(view, "window.mark") == json(1);
    };
    EXPECT_TRUE(keptAfter("")) << "stale but visible: kept";
    EXPECT_TRUE(keptAfter("window.__orvanRecordingActive = true; dispatchEvent(new Event('orvan:hidden'))"))
        << "hidden while recording: kept";
    EXPECT_TRUE(keptAfter("window.__orvanRecordingActive = false; document.getElementById('field').focus();"
                          "dispatchEvent(new Event('orvan:shown')); dispatchEvent(new Event('orvan:hidden'))"))
        << "hidden with an input focused: kept";
    evaluate(view, "document.getElementById('field').blur(); dispatchEvent(new Event('orvan:shown'));"
                   "dispatchEvent(new Event('orvan:hidden')); 0");
    EXPECT_TRUE(runUntil([&] { return evaluate(view, "window.mark === undefined") == json(true); }))
        << "hidden, idle, not recording: reloaded";
}

TEST_F(PageBridgeTest, WindowOpenSendsOrdinaryLinksOutAndKeepsSignInPages) {
    WebKitWebView* view = open();
    EXPECT_EQ(evaluate(view, "window.open('/tasks')"), json(nullptr));
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 1; }));
    EXPECT_EQ(opener->opened[0], url("/tasks"));
    opener->finishAll();
    evaluate(view, "window.open('https://abc.supabase.co/auth'); window.open('https://accounts.google.com/o'); "
                   "window.open('https://mail.google.com/x'); window.open('mailto:a@b.jp'); 0");
    spin(milliseconds(500));
    ASSERT_EQ(opener->opened.size(), 1u) << "sign-in hosts and other schemes use the page's own window.open";
}

}  // namespace
}  // namespace orvan
