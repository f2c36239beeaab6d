#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "linux/glib/GLibMainLoop.h"
#include "linux/webkit/OfficeWindow.h"
#include "linux/webkit/ShellServices.h"
#include "linux/webkit/WebKitWebViewFactory.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeInfoDictionary.h"
#include "tests/integration/GtkTestSupport.h"
#include "tools/webapp/StandInServer.h"

namespace orvan::testing {

// The shell's windows on the real main loop and WebKitGTK, showing the stand-in web application.
// Commands go to fakes unless a test changes `ports` before its first window opens.
class ShellWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        allowedOrigin() = server.baseURL();
        auto info = std::make_shared<FakeInfoDictionary>();
        info->strings[AppConfig::kAppURLKey] = server.baseURL() + "/";
        services.mainLoop = std::make_shared<GLibMainLoop>();
        services.center = NotificationCenter::create(*services.mainLoop);
        services.config = std::make_shared<AppConfig>(info);
        services.registry = std::make_shared<CoordinatorRegistry>();
        services.push = std::make_shared<PushNotifications>(services.center);
        services.webViewFactory = factory();
    }

    void TearDown() override {
        for (GtkWindow* window : windows) gtk_widget_destroy(GTK_WIDGET(window));
        spin(std::chrono::milliseconds(50));
    }

    static std::filesystem::path recordings() { return applicationDataDirectory() / "recordings"; }

    // One web context per process, as in the shell.
    static std::shared_ptr<WebKitWebViewFactory> factory() {
        static auto shared = [] {
            auto made = std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(), applicationCacheDirectory(),
                                                               webExtensionsDirectory(ORVAN_BUNDLE_DIR));
            made->serveRecordings(std::make_shared<RecordingSchemeHandler>(recordings(), [] { return allowedOrigin(); }));
            return made;
        }();
        return shared;
    }

    // Opens a window (in `application`, if any); waits for the app page unless `wait` is false.
    WebKitWebView* open(GtkApplication* application = nullptr, bool wait = true) {
        if (!services.dispatcher) services.dispatcher = std::make_shared<CommandDispatcher>(ports);
        GtkWindow* window = openOfficeWindow(application, services);
        windows.push_back(window);
        auto* view = viewOf(window);
        if (wait) {
            EXPECT_TRUE(waitForLoaded(view, url("/")));
        }
        return view;
    }
    static WebKitWebView* viewOf(GtkWindow* window) {
        return dynamic_cast<WebKitWebViewAdapter&>(*coordinatorOfWindow(window)->webView()).view();
    }
    std::string url(const std::string& path) const { return server.baseURL() + path; }

    static std::string& allowedOrigin() {
        static std::string origin;
        return origin;
    }

    webapp::StandInServer server;
    ShellServices services;
    std::vector<GtkWindow*> windows;
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<FakeMacShell> shell = std::make_shared<FakeMacShell>();
    std::shared_ptr<FakeUserNotificationCenter> notifications = std::make_shared<FakeUserNotificationCenter>();
    std::shared_ptr<FakeUrlOpener> opener = std::make_shared<FakeUrlOpener>();
    CommandPorts ports{.recorder = recorder, .macShell = shell, .notifications = notifications, .opener = opener,
                       .signIn = nullptr, .newUUID = [] { return std::string("uuid"); }};
};

}  // namespace orvan::testing
