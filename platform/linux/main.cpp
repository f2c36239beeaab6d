// The one place where the logic and its Linux adapters are wired together.
#include <gtk/gtk.h>

#include <memory>

#include "app/Uuid.h"
#include "linux/dbus/LauncherEntryBadge.h"
#include "linux/glib/GLibMainTimers.h"
#include "linux/gtk/GtkSceneLifecycle.h"
#include "macshell/MacShell.h"
#include "platform/linux/DBusNotificationCenter.h"
#include "platform/linux/DlopenPluginLoader.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/LinuxRemoteNotifications.h"
#include "platform/linux/GLibMainLoop.h"
#include "platform/linux/GtkAlertPresenter.h"
#include "platform/linux/GioUrlOpener.h"
#include "platform/linux/OfficeApplication.h"
#include "platform/linux/PlistInfoDictionary.h"
#include "platform/linux/SharedMeetingRecorder.h"
#include "platform/linux/SignInWindowSessions.h"
#include "platform/linux/SyslogSink.h"
#include "platform/linux/WebKitWebViewFactory.h"
#include "recording/RecorderCommands.h"
#include "webhost/NativeOAuth.h"
#include "webhost/RecordingSchemeHandler.h"

int main(int argc, char** argv) {
    using namespace orvan;
    setLogSink(std::make_shared<SyslogSink>());

    ShellServices services;
    services.mainLoop = std::make_shared<GLibMainLoop>();
    services.center = NotificationCenter::create(*services.mainLoop);
    services.config = std::make_shared<AppConfig>(
        std::make_shared<PlistInfoDictionary>(mainBundleDirectory() / "Info.plist"));
    services.registry = std::make_shared<CoordinatorRegistry>();
    auto notifications = std::make_shared<DBusNotificationCenter>();
    services.push = std::make_shared<PushNotifications>(PushNotifications::Dependencies{
        .center = services.center,
        .config = services.config,
        .defaults = std::make_shared<JsonFileUserDefaults>(JsonFileUserDefaults::defaultFile()),
        .notifications = notifications,
        .remote = std::make_shared<LinuxRemoteNotifications>(),
        .mainLoop = services.mainLoop.get(),
        .bundleId = OfficeApplication::kApplicationId,
    });
    auto recorder = sharedMeetingRecorder(OfficeApplication::kApplicationId, services.mainLoop, services.center,
                                          std::make_shared<GtkAlertPresenter>([] {
                                              GApplication* running = g_application_get_default();
                                              return running != nullptr ? GTK_APPLICATION(running) : nullptr;
                                          }),
                                          applicationDataDirectory() / "recordings");
    auto macShell = std::make_shared<MacShell>(MacShell::Dependencies{
        .plugInsFolder = mainBundleDirectory() / "PlugIns",
        .loader = std::make_shared<DlopenPluginLoader>(),
        .mainLoop = services.mainLoop.get(),
        .center = services.center,
        .notifications = notifications,
        .badge = std::make_shared<LauncherEntryBadge>(std::string(OfficeApplication::kApplicationId) + ".desktop"),
        // Activating the application opens a new window.
        .openWindow = [] { g_application_activate(g_application_get_default()); },
        .newUUID = randomUUID,
    }, MeetingSessionCoordinator::Dependencies{
        .mainLoop = services.mainLoop.get(),
        .timers = std::make_shared<GLibMainTimers>(),
        .recorder = recorder,
        .isRecording = [recorder] { return recorder->isRecording(); },
        .center = services.center,
        .notifications = notifications,
        .newUUID = randomUUID,
        .appURL = [config = services.config] { return config->appURL(); },
        .openInternal = [push = services.push](const Url& url) { push->openInternal(url); },
    });

    auto factory = std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(), applicationCacheDirectory());
    auto config = services.config;
    factory->serveRecordings(std::make_shared<RecordingSchemeHandler>(
        applicationDataDirectory() / "recordings", [config] { return origin(config->appURL()); }));
    services.webViewFactory = factory;

    auto opener = std::make_shared<GioUrlOpener>();
    services.navigationPolicy = std::make_shared<NavigationPolicy>(services.config, opener);
    services.dispatcher = std::make_shared<CommandDispatcher>(CommandPorts{
        .recorder = recorder,
        .macShell = macShell,
        .notifications = notifications,
        .opener = opener,
        .signIn = std::make_shared<NativeOAuth>(std::make_shared<SignInWindowSessions>(applicationDataDirectory()),
                                                *services.mainLoop),
        .newUUID = randomUUID,
    });

    OfficeApplication application(services);
    application.setDelegate(std::make_shared<OfficeAppDelegate>(OfficeAppDelegate::Dependencies{
        .mainLoop = services.mainLoop.get(),
        .notifications = notifications,
        .macShell = macShell,
        .push = services.push,
        .activator = application.activator(),
    }));
    const GtkSceneLifecycle lifecycle(application.application(), [center = services.center](bool foreground) {
        center->post(foreground ? notification_names::kSceneWillEnterForeground : notification_names::kSceneDidEnterBackground);
    });
    return application.run(argc, argv);
}
