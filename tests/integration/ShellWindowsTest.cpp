#include <gtest/gtest.h>

#include <memory>

#include "linux/glib/GApplicationHolds.h"
#include "tests/integration/ShellWindowFixture.h"
#include "webhost/HoldingRecorder.h"

namespace orvan {
namespace {

using namespace orvan::testing;
namespace names = notification_names;

using ShellWindowsTest = ShellWindowFixture;

TEST_F(ShellWindowsTest, OnlyTheKeyWindowFollowsOpenPathReloadAndFrontOnlyEvaluateAndAClosedOneIsFreed) {
    WebKitWebView* first = open();
    WebKitWebView* second = open();
    ASSERT_TRUE(activate(windows[1]));
    ASSERT_FALSE(gtk_window_is_active(windows[0]));

    // The server and the page see the shell's user agent, once.
    const std::string agent = server.requests().at(0).userAgent;
    EXPECT_TRUE(agent.ends_with(" Version/18.0 Safari/605.1.15 OrvanOfficeMac")) << agent;
    EXPECT_EQ(agent.find("Safari/605.1.15 Version"), std::string::npos) << "appended twice: " << agent;
    EXPECT_EQ(evaluate(first, "navigator.userAgent"), nlohmann::json(agent));

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

    services.center->post(names::kEvaluate, std::string("window.front = 1"), {{"frontOnly", true}});
    ASSERT_TRUE(runUntil([&] { return evaluate(second, "window.front") == nlohmann::json(1); }));
    EXPECT_EQ(evaluate(first, "window.front === undefined"), nlohmann::json(true));

    // Closing a window frees its coordinator and web view.
    std::weak_ptr<Coordinator> coordinator = coordinatorOfWindow(windows[0]);
    std::weak_ptr<WebView> webView = coordinator.lock()->webView();
    gtk_widget_destroy(GTK_WIDGET(windows[0]));
    windows.erase(windows.begin());
    EXPECT_TRUE(coordinator.expired());
    EXPECT_TRUE(webView.expired());
    EXPECT_EQ(services.registry->live().size(), 1u);
}

// A real GtkApplication: a recording started from the page holds it past its last window, and it
// ends once the recording's stop has finished and nothing else holds it.
TEST(ShellApplicationTest, ARecordingKeepsTheApplicationRunningAfterItsLastWindowCloses) {
    struct State {
        HoldingRecorder recorder{std::make_shared<FakeRecorder>(), std::make_shared<GApplicationHolds>()};
        GApplication* application = G_APPLICATION(gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE));
        bool ranWithoutWindow = false;
        bool stopped = false;
        bool timedOut = false;
    } state;
    g_application_set_default(state.application);
    g_signal_connect(state.application, "activate", G_CALLBACK(+[](GApplication* app, gpointer data) {
                         GtkWidget* window = gtk_application_window_new(GTK_APPLICATION(app));
                         static_cast<State*>(data)->recorder.start([](std::optional<RecordingFailure>) {});
                         gtk_widget_destroy(window);
                         g_timeout_add(300, +[](gpointer later) {
                             auto* run = static_cast<State*>(later);
                             run->ranWithoutWindow = true;
                             run->recorder.stop([run](std::variant<std::string, RecordingFailure>) { run->stopped = true; });
                             return G_SOURCE_REMOVE;
                         }, data);
                     }),
                     &state);
    // Never wait for ever on a hold that is not released.
    const guint guard = g_timeout_add_seconds(10, +[](gpointer data) {
        static_cast<State*>(data)->timedOut = true;
        g_application_quit(static_cast<State*>(data)->application);
        return G_SOURCE_REMOVE;
    }, &state);
    g_application_run(state.application, 0, nullptr);
    if (!state.timedOut) g_source_remove(guard);
    g_application_set_default(nullptr);
    g_object_unref(state.application);
    EXPECT_TRUE(state.ranWithoutWindow) << "ended with its last window";
    EXPECT_TRUE(state.stopped);
    EXPECT_FALSE(state.timedOut) << "kept running once nothing held it";
}

}  // namespace
}  // namespace orvan
