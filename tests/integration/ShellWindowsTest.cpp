#include <gtest/gtest.h>

#include <memory>

#include "platform/linux/GLibMainLoop.h"
#include "platform/linux/OfficeWindow.h"
#include "platform/linux/WebKitWebViewFactory.h"
#include "tests/integration/GtkTestSupport.h"
#include "tests/integration/ShellTestServices.h"
#include "tools/webapp/StandInServer.h"

namespace orvan {
namespace {

using namespace orvan::testing;
namespace names = notification_names;

// Two real windows with real web views, showing the stand-in web application.
class ShellWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        services = makeShellServices(server.baseURL() + "/", factory());
    }

    void TearDown() override {
        for (GtkWindow* window : windows) gtk_widget_destroy(GTK_WIDGET(window));
        spin(std::chrono::milliseconds(50));
    }

    // One factory (one web context) per process, as in the shell.
    static std::shared_ptr<WebKitWebViewFactory> factory() {
        static auto shared = std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(),
                                                                    applicationCacheDirectory());
        return shared;
    }

    WebKitWebView* open() {
        GtkWindow* window = openOfficeWindow(nullptr, services);
        windows.push_back(window);
        auto view = coordinatorOfWindow(window)->webView();
        return dynamic_cast<WebKitWebViewAdapter&>(*view).view();
    }

    std::string url(const std::string& path) const { return server.baseURL() + path; }

    // Makes `window` the active one and waits until GTK agrees.
    static bool activate(GtkWindow* window) {
        gtk_window_present(window);
        gdk_window_focus(gtk_widget_get_window(GTK_WIDGET(window)), GDK_CURRENT_TIME);
        return runUntil([&] { return gtk_window_is_active(window) == TRUE; });
    }

    webapp::StandInServer server;
    ShellServices services;
    std::vector<GtkWindow*> windows;
};

TEST_F(ShellWindowsTest, OnlyTheKeyWindowFollowsOpenPathReloadAndFrontOnlyEvaluate) {
    WebKitWebView* first = open();
    WebKitWebView* second = open();
    ASSERT_TRUE(waitForLoaded(first, url("/")));
    ASSERT_TRUE(waitForLoaded(second, url("/")));
    ASSERT_TRUE(activate(windows[1]));
    ASSERT_FALSE(gtk_window_is_active(windows[0]));

    services.center->post(names::kOpenPath, std::string("/meeting-notes"));
    ASSERT_TRUE(waitForLoaded(second, url("/meeting-notes")));
    spin(std::chrono::milliseconds(300));
    EXPECT_EQ(uriOf(first), url("/"));

    // A reload drops page state: mark both pages, then see which mark survives.
    evaluate(first, "window.mark = 1");
    evaluate(second, "window.mark = 1");
    services.center->post(names::kReload);
    ASSERT_TRUE(runUntil([&] { return evaluate(second, "window.mark === undefined") == nlohmann::json(true); }));
    EXPECT_EQ(evaluate(first, "window.mark"), nlohmann::json(1));

    services.center->post(names::kEvaluate, std::string("window.front = (window.front || 0) + 1"),
                          {{"frontOnly", true}});
    ASSERT_TRUE(runUntil([&] { return evaluate(second, "window.front") == nlohmann::json(1); }));
    EXPECT_EQ(evaluate(first, "window.front === undefined"), nlohmann::json(true));
}

TEST_F(ShellWindowsTest, TheServerSeesTheShellsUserAgent) {
    WebKitWebView* view = open();
    ASSERT_TRUE(waitForLoaded(view, url("/")));
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    const std::string& agent = requests.front().userAgent;
    const std::string suffix = "Version/18.0 Safari/605.1.15 OrvanOfficeMac";
    ASSERT_GE(agent.size(), suffix.size());
    EXPECT_EQ(agent.substr(agent.size() - suffix.size()), suffix) << agent;
    EXPECT_EQ(agent.find("Version/18.0 Safari/605.1.15 Version"), std::string::npos) << agent;
    // The page sees the same string.
    EXPECT_EQ(evaluate(view, "navigator.userAgent"), nlohmann::json(agent));
}

TEST_F(ShellWindowsTest, ClosingAWindowFreesItsCoordinatorAndWebView) {
    WebKitWebView* view = open();
    ASSERT_TRUE(waitForLoaded(view, url("/")));
    std::weak_ptr<Coordinator> coordinator = coordinatorOfWindow(windows[0]);
    std::weak_ptr<WebView> webView = coordinator.lock()->webView();
    gtk_widget_destroy(GTK_WIDGET(windows[0]));
    windows.clear();
    EXPECT_TRUE(coordinator.expired());
    EXPECT_TRUE(webView.expired());
    EXPECT_TRUE(services.registry->live().empty());
}

}  // namespace
}  // namespace orvan
