#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "linux/webkit/SignInWindowSessions.h"
#include "tests/integration/ShellWindowFixture.h"
#include "tests/support/TempDirectory.h"
#include "webhost/NativeOAuth.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using std::chrono::milliseconds;

// Takes connections on 127.0.0.1 and never answers: a load of it stays in progress.
class SilentServer {
public:
    SilentServer() : service_(g_socket_service_new()) {
        port_ = g_socket_listener_add_any_inet_port(G_SOCKET_LISTENER(service_), nullptr, nullptr);
        g_signal_connect(service_, "incoming", G_CALLBACK(+[](GSocketService*, GSocketConnection* connection,
                                                               GObject*, gpointer self) {
                             static_cast<SilentServer*>(self)->held_.push_back(G_SOCKET_CONNECTION(g_object_ref(connection)));
                             return TRUE;
                         }),
                         this);
    }
    ~SilentServer() {
        g_socket_service_stop(service_);
        g_socket_listener_close(G_SOCKET_LISTENER(service_));
        g_signal_handlers_disconnect_by_data(service_, this);
        for (auto* connection : held_) g_object_unref(connection);
        g_object_unref(service_);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/silent"; }

private:
    GSocketService* service_;
    guint16 port_ = 0;
    std::vector<GSocketConnection*> held_;
};

// A shell window with the real navigation policy and sign-in (its cookies in a directory of this
// test's own, so no other test's sign-in is remembered), and a second stand-in on another port
// playing the identity provider.
class NavigationAndSignInTest : public ShellWindowFixture {
protected:
    void SetUp() override {
        ShellWindowFixture::SetUp();
        identityProvider.start();
        services.navigationPolicy = std::make_shared<NavigationPolicy>(services.config, opener);
        ports.signIn = std::make_shared<NativeOAuth>(std::make_shared<SignInWindowSessions>(signInData.path()),
                                                     *services.mainLoop);
        view = open(nullptr, false);
        // Every address the view takes, however briefly: a failing load may move on within one
        // main-loop turn.
        g_signal_connect(view, "notify::uri", G_CALLBACK(+[](WebKitWebView* v, GParamSpec*, gpointer self) {
                             static_cast<NavigationAndSignInTest*>(self)->started.push_back(uriOf(v));
                         }),
                         this);
        ASSERT_TRUE(waitForLoaded(view, url("/")));
    }

    void TearDown() override {
        if (GtkWindow* signIn = SignInWindowSessions::currentWindow()) gtk_window_close(signIn);
        spin(milliseconds(50));
        ShellWindowFixture::TearDown();
    }

    // Starts a sign-in from the page; the page reports the answer to the stand-in as /oauth-result.
    void startOAuth(const std::string& signInURL) {
        const nlohmann::json args = {{"url", signInURL}, {"callbackHost", " App.Tomoriva.jp "}, {"callbackPath", "auth/callback"}};
        evaluate(view, "window.orvanMobile.startOAuth(" + args.dump() +
                           ").then(r => fetch('/oauth-result?r=' + r), e => fetch('/oauth-result?e=' + e)); 0");
    }
    std::vector<std::string> results() const {
        std::vector<std::string> found;
        for (const auto& request : server.requests())
            if (request.path == "/oauth-result") found.push_back(request.query);
        return found;
    }
    std::string idpAuthorize(const std::string& state) const {
        return identityProvider.baseURL() + "/idp/authorize?redirect_uri=https%3A%2F%2Fapp.tomoriva.jp%2Fauth%2Fcallback&state=" + state;
    }
    bool startedLoading(const std::string& uri) const { return std::find(started.begin(), started.end(), uri) != started.end(); }
    bool signInShown() const { return SignInWindowSessions::currentWindow() != nullptr; }

    TempDirectory signInData{"orvan-signin"};
    webapp::StandInServer identityProvider;
    WebKitWebView* view = nullptr;
    std::vector<std::string> started;  // every URI the app view showed, in order
};

TEST_F(NavigationAndSignInTest, OutsideAddressesReachTheDesktopAsWrittenAndTheAppAndTrustedHostsStay) {
    // Escaped "&" and "+", a Shift_JIS query and a lone "%": nothing decoded, nothing refused.
    const std::string link = "https://outside.example/search?q=R%26D%2B1&s=%93%FA%96%7B&p=100%";
    evaluate(view, "location.href = '" + link + "'; window.open('" + link + "');"
                   "const f = document.createElement('iframe'); f.src = 'https://outside.example/embed';"
                   "document.body.appendChild(f); 0");
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 3; })) << opener->opened.size();
    std::sort(opener->opened.begin(), opener->opened.end());
    EXPECT_EQ(opener->opened, (std::vector<std::string>{"https://outside.example/embed", link, link}));
    opener->finishAll();
    spin(milliseconds(200));
    EXPECT_EQ(uriOf(view), url("/")) << "the page itself stays";

    evaluate(view, "location.href = 'mailto:sales@example.com'; 0");
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 4; }));
    opener->finishAll();
    evaluate(view, "document.querySelector('a[href=\"/chat\"]').click(); 0");
    ASSERT_TRUE(waitForLoaded(view, url("/chat")));
    evaluate(view, "location.href = 'https://preview.tomoriva.jp/tasks'; 0");
    ASSERT_TRUE(runUntil([&] { return startedLoading("https://preview.tomoriva.jp/tasks"); }));
    EXPECT_EQ(opener->opened.size(), 4u) << "a trusted host is not handed out";
}

// A load's time-out goes with its own navigation: not with a refused one before it, nor with the one
// it replaces (even of the same address), and past a redirect.
TEST_F(NavigationAndSignInTest, ALoadsTimeOutFollowsItsOwnNavigation) {
    SilentServer silent;
    // A window whose app is the silent server: its first load replaced, once it has begun, by one
    // that stalls after a redirect. That one times out, which brings the shell's page (a stop would not).
    auto info = std::make_shared<FakeInfoDictionary>();
    info->strings[AppConfig::kAppURLKey] = silent.url();
    services.config = std::make_shared<AppConfig>(info);
    WebKitWebView* stalled = open(nullptr, false);
    static bool began;  // outlives the window's signals
    began = false;
    g_signal_connect(stalled, "load-changed", G_CALLBACK(+[] { began = true; }), nullptr);
    ASSERT_TRUE(runUntil([] { return began; }));
    coordinatorOfWindow(windows[1])->webView()->load(*Url::parse(url("/updates/redirect?to=") + silent.url() + "/ja"), std::chrono::seconds(1));
    EXPECT_TRUE(runUntil([&] { return evaluate(stalled, "document.title") == nlohmann::json("トモリバに接続できません"); }));

    // Refused by the policy (handed to the desktop instead), so it never starts.
    const auto refused = std::chrono::steady_clock::now();
    coordinatorOfWindow(windows[0])->webView()->load(*Url::parse("https://outside.example/x"), std::chrono::seconds(2));
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 1; }));
    opener->finishAll();
    webkit_web_view_load_uri(view, silent.url().c_str());
    ASSERT_TRUE(runUntil([&] { return webkit_web_view_is_loading(view) == TRUE; }));
    runUntil([&] { return std::chrono::steady_clock::now() - refused > milliseconds(3000); });
    EXPECT_TRUE(webkit_web_view_is_loading(view)) << "stopped by the refused load's time-out";
    // A load of the shell's own still gives up on time, also in place of one of the same address.
    coordinatorOfWindow(windows[0])->webView()->load(*Url::parse(silent.url()), std::chrono::seconds(1));
    EXPECT_TRUE(runUntil([&] { return webkit_web_view_is_loading(view) == FALSE; }, milliseconds(10000)));
}

TEST_F(NavigationAndSignInTest, ASignInEndsOnTheCallbackLoadedAsWrittenAndASecondOneIsRemembered) {
    // The provider sends back the state "a+b=", escaped: unescaped, it would mean something else.
    startOAuth(idpAuthorize("a%2Bb%3D"));
    ASSERT_TRUE(runUntil([&] { return !results().empty(); }));
    EXPECT_EQ(results(), std::vector<std::string>{"r=ok"});
    // The callback host does not resolve here: seeing the app view go there is enough.
    EXPECT_TRUE(runUntil([&] { return startedLoading("https://app.tomoriva.jp/auth/callback?code=stand-in-code&state=a%2Bb%3D"); }))
        << uriOf(view);
    EXPECT_FALSE(signInShown()) << "the sign-in window is closed";
    ASSERT_EQ(identityProvider.requests().size(), 1u);

    webkit_web_view_load_uri(view, url("/").c_str());
    ASSERT_TRUE(waitForLoaded(view, url("/")));
    startOAuth(idpAuthorize("two"));
    EXPECT_TRUE(runUntil([&] {
        return startedLoading("https://app.tomoriva.jp/auth/callback?code=stand-in-code&state=two&remembered=1");
    })) << uriOf(view);
}

TEST_F(NavigationAndSignInTest, ClosingTheSignInWindowIsACancelASecondRunCancelsTheFirstAndClosingTheAppWindowEndsIt) {
    const auto signInPageLoads = [&] {
        const auto requests = server.requests();
        return std::count_if(requests.begin(), requests.end(),
                             [](const auto& r) { return r.path == "/auth/login" && r.query.empty(); });
    };
    startOAuth(url("/auth/login"));  // plain http on 127.0.0.1, a sign-in page that waits for the user
    ASSERT_TRUE(runUntil([&] { return signInShown() && signInPageLoads() == 1; }));
    GtkWindow* signIn = SignInWindowSessions::currentWindow();
    EXPECT_EQ(gtk_window_get_transient_for(signIn), windows[0]);
    auto* header = GTK_HEADER_BAR(gtk_window_get_titlebar(signIn));
    EXPECT_TRUE(runUntil([&] {
        const char* subtitle = gtk_header_bar_get_subtitle(header);
        return subtitle != nullptr && std::string(subtitle) == "保護されていない通信 — 127.0.0.1";
    }));
    gtk_window_close(signIn);
    ASSERT_TRUE(runUntil([&] { return results().size() == 1; }));
    EXPECT_EQ(results()[0], "r=cancelled");
    EXPECT_TRUE(waitForLoaded(view, url("/auth/login?error=auth_failed"))) << uriOf(view);

    webkit_web_view_load_uri(view, url("/").c_str());
    ASSERT_TRUE(waitForLoaded(view, url("/")));
    startOAuth(url("/auth/login"));
    ASSERT_TRUE(runUntil([&] { return signInPageLoads() == 2; }));
    startOAuth(url("/auth/login"));
    ASSERT_TRUE(runUntil([&] { return results().size() == 2; }));
    EXPECT_EQ(results()[1], "r=cancelled");
    // The first window closed on its cancel; the one showing now is the second run's.
    EXPECT_TRUE(runUntil([&] { return signInPageLoads() == 3; }));
    EXPECT_TRUE(signInShown());

    // Closing the window under the sign-in ends the sign-in.
    gtk_widget_destroy(GTK_WIDGET(windows[0]));
    windows.erase(windows.begin());
    EXPECT_FALSE(signInShown()) << "the sign-in window went with its parent";
    spin(milliseconds(50));
}

}  // namespace
}  // namespace orvan
