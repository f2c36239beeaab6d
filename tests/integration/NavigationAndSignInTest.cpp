#include <gtest/gtest.h>

#include <memory>

#include "app/Uuid.h"
#include "linux/glib/GLibMainLoop.h"
#include "linux/webkit/OfficeWindow.h"
#include "linux/webkit/SignInWindowSessions.h"
#include "linux/webkit/WebKitWebViewFactory.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/integration/GtkTestSupport.h"
#include "tests/integration/ShellTestServices.h"
#include "tools/webapp/StandInServer.h"
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

// A shell window with the real navigation policy and sign-in, a fake desktop opener, the stand-in
// web application, and a second stand-in on another port playing the identity provider.
class NavigationAndSignInTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.start();
        identityProvider.start();
        services = makeShellServices(app.baseURL() + "/", factory());
        services.navigationPolicy = std::make_shared<NavigationPolicy>(services.config, opener);
        services.dispatcher = std::make_shared<CommandDispatcher>(CommandPorts{
            .recorder = std::make_shared<FakeRecorder>(),
            .macShell = std::make_shared<FakeMacShell>(),
            .notifications = std::make_shared<FakeUserNotificationCenter>(),
            .opener = opener,
            .signIn = std::make_shared<NativeOAuth>(sessions(), *services.mainLoop),
            .newUUID = randomUUID,
        });
        window = openOfficeWindow(nullptr, services);
        view = dynamic_cast<WebKitWebViewAdapter&>(*coordinatorOfWindow(window)->webView()).view();
        // Every address the view takes, however briefly: a failing load may move on within one
        // main-loop turn.
        g_signal_connect(view, "notify::uri", G_CALLBACK(+[](WebKitWebView* v, GParamSpec*, gpointer self) {
                             static_cast<NavigationAndSignInTest*>(self)->started.push_back(uriOf(v));
                         }),
                         this);
        ASSERT_TRUE(waitForLoaded(view, app.baseURL() + "/"));
    }

    void TearDown() override {
        if (GtkWindow* signIn = SignInWindowSessions::currentWindow()) gtk_window_close(signIn);
        spin(milliseconds(50));
        gtk_widget_destroy(GTK_WIDGET(window));
        spin(milliseconds(50));
    }

    static std::shared_ptr<WebKitWebViewFactory> factory() {
        static auto shared = std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(), applicationCacheDirectory());
        return shared;
    }
    static std::shared_ptr<SignInWindowSessions> sessions() {
        static auto shared = std::make_shared<SignInWindowSessions>(applicationDataDirectory());
        return shared;
    }

    // Starts a sign-in from the page; the page reports the answer to the stand-in as /oauth-result.
    void startOAuth(const std::string& url) {
        const nlohmann::json args = {{"url", url}, {"callbackHost", " App.Tomoriva.jp "}, {"callbackPath", "auth/callback"}};
        evaluate(view, "window.orvanMobile.startOAuth(" + args.dump() +
                           ").then(r => fetch('/oauth-result?r=' + r), e => fetch('/oauth-result?e=' + e)); 0");
    }
    std::vector<std::string> results() const {
        std::vector<std::string> found;
        for (const auto& request : app.requests()) {
            if (request.path == "/oauth-result") found.push_back(request.query);
        }
        return found;
    }
    // `host` picks the cookie jar on the provider's side: "localhost" is a provider no earlier test
    // of the session has signed in to.
    std::string idpAuthorize(const std::string& state, const std::string& host = "127.0.0.1") const {
        std::string base = identityProvider.baseURL();
        base.replace(base.find("127.0.0.1"), std::string("127.0.0.1").size(), host);
        return base + "/idp/authorize?redirect_uri=" +
               "https%3A%2F%2Fapp.tomoriva.jp%2Fauth%2Fcallback&state=" + state;
    }
    bool startedLoading(const std::string& uri) const {
        return std::find(started.begin(), started.end(), uri) != started.end();
    }
    // The sign-in window's cookies persist across the tests of one session, so whether the identity
    // provider already knows the account depends on which ran first.
    bool startedLoadingPrefix(const std::string& prefix) const {
        return std::any_of(started.begin(), started.end(), [&](const std::string& uri) { return uri.starts_with(prefix); });
    }

    webapp::StandInServer app;
    webapp::StandInServer identityProvider;
    std::shared_ptr<FakeUrlOpener> opener = std::make_shared<FakeUrlOpener>();
    ShellServices services;
    GtkWindow* window = nullptr;
    WebKitWebView* view = nullptr;
    std::vector<std::string> started;  // every URI the app view showed, in order
};

TEST_F(NavigationAndSignInTest, AnOutsideIframeIsCancelledAndHandedToTheDesktop) {
    evaluate(view, "const f = document.createElement('iframe'); f.src = 'https://outside.example/embed';"
                   "document.body.appendChild(f); 0");
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 1; }));
    EXPECT_EQ(opener->opened[0], "https://outside.example/embed");
    opener->finishAll();
    spin(milliseconds(200));
    EXPECT_EQ(uriOf(view), app.baseURL() + "/") << "the page itself stays";
}

TEST_F(NavigationAndSignInTest, OutsideLinksReachTheDesktopExactlyAsWritten) {
    // Escaped "&" and "+", a Shift_JIS query and a lone "%": nothing decoded, nothing refused.
    const std::string link = "https://outside.example/search?q=R%26D%2B1&s=%93%FA%96%7B&p=100%";
    evaluate(view, "location.href = '" + link + "'; window.open('" + link + "'); 0");
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 2; })) << opener->opened.size();
    EXPECT_EQ(opener->opened, (std::vector<std::string>{link, link}));
}

TEST_F(NavigationAndSignInTest, ARefusedLoadLeavesTheNextLoadItsOwnTime) {
    SilentServer silent;
    // Refused by the policy (handed to the desktop instead), so it never starts.
    const auto refused = std::chrono::steady_clock::now();
    coordinatorOfWindow(window)->webView()->load(*Url::parse("https://outside.example/x"), std::chrono::seconds(2));
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 1; }));
    opener->finishAll();
    webkit_web_view_load_uri(view, silent.url().c_str());
    ASSERT_TRUE(runUntil([&] { return webkit_web_view_is_loading(view) == TRUE; }));
    runUntil([&] { return std::chrono::steady_clock::now() - refused > milliseconds(3000); });
    EXPECT_TRUE(webkit_web_view_is_loading(view)) << "stopped by the refused load's time-out";
    // A load of the shell's own still gives up on time.
    coordinatorOfWindow(window)->webView()->load(*Url::parse(silent.url() + "?again"), std::chrono::seconds(1));
    EXPECT_TRUE(runUntil([&] { return webkit_web_view_is_loading(view) == FALSE; }, milliseconds(10000)));
}

TEST_F(NavigationAndSignInTest, TheSignInWindowShowsItsHostAndThatTheConnectionIsNotSecure) {
    startOAuth(app.baseURL() + "/auth/login");  // plain http on 127.0.0.1
    ASSERT_TRUE(runUntil([&] { return SignInWindowSessions::currentWindow() != nullptr; }));
    auto* header = GTK_HEADER_BAR(gtk_window_get_titlebar(SignInWindowSessions::currentWindow()));
    EXPECT_TRUE(runUntil([&] {
        const char* subtitle = gtk_header_bar_get_subtitle(header);
        return subtitle != nullptr && std::string(subtitle) == "保護されていない通信 — 127.0.0.1";
    })) << (gtk_header_bar_get_subtitle(header) ? gtk_header_bar_get_subtitle(header) : "(none)");
}

TEST_F(NavigationAndSignInTest, LinksToTheAppAndTrustedHostsStayAndMailGoesOut) {
    evaluate(view, "location.href = 'mailto:sales@example.com'; 0");
    ASSERT_TRUE(runUntil([&] { return opener->opened.size() == 1; }));
    opener->finishAll();
    EXPECT_EQ(opener->opened[0], "mailto:sales@example.com");

    evaluate(view, "document.querySelector('a[href=\"/chat\"]').click(); 0");
    ASSERT_TRUE(waitForLoaded(view, app.baseURL() + "/chat"));
    evaluate(view, "location.href = 'https://preview.tomoriva.jp/tasks'; 0");
    ASSERT_TRUE(runUntil([&] { return startedLoading("https://preview.tomoriva.jp/tasks"); }));
    EXPECT_EQ(opener->opened.size(), 1u) << "a trusted host is not handed out";
}

TEST_F(NavigationAndSignInTest, ASignInEndsOnTheCallbackWhichTheAppViewLoadsAsWritten) {
    // The provider sends back the state "a+b=", escaped: unescaped, it would mean something else.
    startOAuth(idpAuthorize("a%2Bb%3D", "localhost"));
    ASSERT_TRUE(runUntil([&] { return !results().empty(); }));
    EXPECT_EQ(results(), std::vector<std::string>{"r=ok"});
    // The callback host does not resolve here: seeing the app view go there is enough.
    EXPECT_TRUE(runUntil([&] {
        return startedLoading("https://app.tomoriva.jp/auth/callback?code=stand-in-code&state=a%2Bb%3D");
    })) << uriOf(view);
    EXPECT_EQ(SignInWindowSessions::currentWindow(), nullptr) << "the sign-in window is closed";
    const auto visits = identityProvider.requests();
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_EQ(visits[0].path, "/idp/authorize");
}

TEST_F(NavigationAndSignInTest, ASecondSignInRemembersTheAccount) {
    startOAuth(idpAuthorize("one"));
    ASSERT_TRUE(runUntil([&] { return results().size() == 1; }));
    ASSERT_TRUE(runUntil([&] { return startedLoadingPrefix("https://app.tomoriva.jp/auth/callback?code=stand-in-code&state=one"); }));
    webkit_web_view_load_uri(view, (app.baseURL() + "/").c_str());
    ASSERT_TRUE(waitForLoaded(view, app.baseURL() + "/"));
    // The account is remembered, so this time the sign-in ends at once; the page that asked may be
    // gone before it hears the answer, and the app view going to the callback is what counts.
    startOAuth(idpAuthorize("two"));
    EXPECT_TRUE(runUntil([&] {
        return startedLoading("https://app.tomoriva.jp/auth/callback?code=stand-in-code&state=two&remembered=1");
    })) << uriOf(view);
}

TEST_F(NavigationAndSignInTest, ClosingTheSignInWindowIsACancelAndShowsTheLoginErrorPage) {
    startOAuth(app.baseURL() + "/auth/login");  // a sign-in page that waits for the user
    ASSERT_TRUE(runUntil([&] { return SignInWindowSessions::currentWindow() != nullptr; }));
    EXPECT_EQ(gtk_window_get_transient_for(SignInWindowSessions::currentWindow()), window);
    gtk_window_close(SignInWindowSessions::currentWindow());
    ASSERT_TRUE(runUntil([&] { return !results().empty(); }));
    EXPECT_EQ(results(), std::vector<std::string>{"r=cancelled"});
    EXPECT_TRUE(waitForLoaded(view, app.baseURL() + "/auth/login?error=auth_failed"));
}

TEST_F(NavigationAndSignInTest, TwoRunsInARowCancelTheFirst) {
    auto signInPageLoads = [&] {
        int count = 0;
        for (const auto& request : app.requests()) count += request.path == "/auth/login" && request.query.empty() ? 1 : 0;
        return count;
    };
    startOAuth(app.baseURL() + "/auth/login");
    ASSERT_TRUE(runUntil([&] { return signInPageLoads() == 1; }));
    startOAuth(app.baseURL() + "/auth/login");
    ASSERT_TRUE(runUntil([&] { return results().size() == 1; }));
    EXPECT_EQ(results()[0], "r=cancelled");
    // The first window closed on its cancel; the one showing now is the second run's.
    EXPECT_TRUE(runUntil([&] { return signInPageLoads() == 2; }));
    EXPECT_NE(SignInWindowSessions::currentWindow(), nullptr);
}

}  // namespace
}  // namespace orvan
