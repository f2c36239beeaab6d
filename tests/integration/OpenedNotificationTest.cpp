#include <gtest/gtest.h>

#include <memory>

#include "app/OfficeAppDelegate.h"
#include "linux/dbus/DBusNotificationCenter.h"
#include "linux/gtk/GtkApplicationActivator.h"
#include "tests/fakes/FakeUserDefaults.h"
#include "tests/integration/MockNotificationServer.h"
#include "tests/integration/ShellWindowFixture.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using std::chrono::milliseconds;

// The shell with its real notification centre, push routing and application delegate, in a
// GtkApplication of the tests' own: what opening a notification does.
class OpenedNotificationTest : public ShellWindowFixture {
protected:
    void SetUp() override {
        ShellWindowFixture::SetUp();
        desktopNotifications = std::make_shared<DBusNotificationCenter>();
        ports.notifications = desktopNotifications;
        services.push = std::make_shared<PushNotifications>(PushNotifications::Dependencies{
            .center = services.center,
            .config = services.config,
            .defaults = std::make_shared<FakeUserDefaults>(),
            .notifications = desktopNotifications,
            .remote = nullptr,
            .mainLoop = services.mainLoop.get(),
            .bundleId = "jp.tomoriva.OrvanOffice",
        });
        application = testApplication();
        ASSERT_NE(application, nullptr);
        // As in the shell, activating the application opens a window.
        activation = g_signal_connect(application, "activate", G_CALLBACK(+[](GApplication*, gpointer self) {
                                          auto* test = static_cast<OpenedNotificationTest*>(self);
                                          test->open(test->application, false);
                                      }),
                                      this);
        delegate = std::make_unique<OfficeAppDelegate>(OfficeAppDelegate::Dependencies{
            .mainLoop = services.mainLoop.get(),
            .notifications = desktopNotifications,
            .macShell = std::make_shared<MacShell>(std::filesystem::path("/nonexistent"), nullptr),
            .push = services.push,
            .activator = std::make_shared<GtkApplicationActivator>(application),
            .afterFirstPage = {},
        });
    }

    void TearDown() override {
        if (activation != 0) g_signal_handler_disconnect(application, activation);
        if (other != nullptr) gtk_widget_destroy(other);
        ShellWindowFixture::TearDown();
    }

    std::shared_ptr<DBusNotificationCenter> desktopNotifications;
    GtkApplication* application = nullptr;  // shared, lives for the run
    gulong activation = 0;
    std::unique_ptr<OfficeAppDelegate> delegate;
    GtkWidget* other = nullptr;
};

TEST_F(OpenedNotificationTest, AClickedPageNotificationOpensNothingAndBringsTheWindowForward) {
    MockNotificationServer notificationServer;
    ASSERT_TRUE(notificationServer.start());
    delegate->didFinishLaunching();
    WebKitWebView* view = open(application);
    evaluate(view, "new Notification('会議が始まります', { body: '営業会議' }); 0");
    ASSERT_TRUE(runUntil([&] { return notificationServer.notifications().size() == 1; }));

    // Another window takes the focus, then the user clicks the notification.
    other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    ASSERT_TRUE(activate(GTK_WINDOW(other)));
    server.clearRequests();

    const auto id = notificationServer.notifications()[0].id;
    notificationServer.emit("ActivationToken", id, g_variant_new_string("token-42"));
    notificationServer.emit("ActionInvoked", id, g_variant_new_string("default"));
    EXPECT_TRUE(runUntil([&] { return gtk_window_is_active(windows[0]) == TRUE; }));
    spin(milliseconds(300));
    EXPECT_EQ(uriOf(view), url("/")) << "a page notification carries no page to open";
    // Coming forward makes the page poll its badges; no page is loaded.
    for (const auto& request : server.requests()) EXPECT_TRUE(request.path.starts_with("/api/")) << request.path;
    EXPECT_EQ(windows.size(), 1u);
}

TEST_F(OpenedNotificationTest, AnOpenedNotificationWithAURLWhileNoWindowExistsIsTheNextWindowsFirstPage) {
    // Only https links on the application's own hosts are opened, whatever the configured app URL.
    delegate->didFinishLaunching();
    spin(milliseconds(50));
    delegate->didReceiveNotificationResponse({{{"url", "https://app.tomoriva.jp/calendar"}}, ""});
    // No window: the application is activated, which opens one showing the pending page.
    ASSERT_TRUE(runUntil([&] { return windows.size() == 1; }));
    WebKitWebView* view = viewOf(windows[0]);
    EXPECT_TRUE(runUntil([&] { return uriOf(view).starts_with("https://app.tomoriva.jp/calendar"); }, milliseconds(5000)))
        << uriOf(view);
    EXPECT_FALSE(services.push->pendingOpenURL());
}

}  // namespace
}  // namespace orvan
