// The one place where the logic and its Linux adapters are wired together.
#include <gtk/gtk.h>

#include <memory>

#include "platform/PrivateFiles.h"
#include "platform/Uuid.h"
#include "linux/dbus/LauncherEntryBadge.h"
#include "linux/glib/GLibMainTimers.h"
#include "linux/glib/GioNetworkMonitor.h"
#include "linux/gtk/GtkSceneLifecycle.h"
#include "macshell/MacShell.h"
#include "macshell/RecorderActivity.h"
#include "linux/dbus/DBusNotificationCenter.h"
#include "linux/plist/DlopenPluginLoader.h"
#include "linux/glib/GApplicationHolds.h"
#include "linux/glib/JsonFileUserDefaults.h"
#include "linux/glib/LinuxRemoteNotifications.h"
#include "linux/glib/GLibMainLoop.h"
#include "linux/gtk/GtkAlertPresenter.h"
#include "linux/glib/GioUrlOpener.h"
#include "linux/webkit/OfficeApplication.h"
#include "linux/plist/PlistInfoDictionary.h"
#include "linux/RecordingEngine.h"
#include "linux/webkit/SignInWindowSessions.h"
#include "linux/glib/SyslogSink.h"
#include "linux/webkit/WebKitWebViewFactory.h"
#include "recording/MeetingRecorder.h"
#include "recording/RecorderCommands.h"
#include "recording/RecorderOnFirstUse.h"
#include "webhost/HoldingRecorder.h"
#include "webhost/NativeOAuth.h"
#include "webhost/RecordingSchemeHandler.h"

int main(int argc, char** argv) {
    using namespace orvan;
    setLogSink(std::make_shared<SyslogSink>());
    // Settings, website data, recordings and downloads are the user's alone: also what the engine's
    // own processes write, and what earlier versions left readable by others.
    private_files::keepPrivate({applicationDataDirectory(), applicationCacheDirectory(),
                                JsonFileUserDefaults::defaultFile().parent_path()});

    ShellServices services;
    services.mainLoop = std::make_shared<GLibMainLoop>();
    services.center = NotificationCenter::create(*services.mainLoop);
    services.config = std::make_shared<AppConfig>(
        std::make_shared<PlistInfoDictionary>(mainBundleDirectory() / "Info.plist"));
    services.registry = std::make_shared<CoordinatorRegistry>();
    services.timers = std::make_shared<GLibMainTimers>();
    services.network = std::make_shared<GioNetworkMonitor>();
    auto notifications = std::make_shared<DBusNotificationCenter>();
    auto defaults = std::make_shared<JsonFileUserDefaults>(JsonFileUserDefaults::defaultFile());
    services.push = std::make_shared<PushNotifications>(PushNotifications::Dependencies{
        .center = services.center,
        .config = services.config,
        .defaults = defaults,
        .notifications = notifications,
        .remote = std::make_shared<LinuxRemoteNotifications>(),
        .mainLoop = services.mainLoop.get(),
        .bundleId = OfficeApplication::kApplicationId,
    });
    // The levels and troubles of a running recording, shared by the capture and the popup's meters.
    auto recordingSignals = std::make_shared<RecordingSignals>();
    // The recorder and its libraries are loaded at the first recorder command.
    auto recorder = std::make_shared<RecorderOnFirstUse<MeetingRecorder>>(
        [inputs = RecordingEngineInputs{
             .applicationIdentifier = OfficeApplication::kApplicationId,
             .mainLoop = services.mainLoop,
             .notifications = services.center,
             .alerts = std::make_shared<GtkAlertPresenter>([] {
                 GApplication* running = g_application_get_default();
                 return running != nullptr ? GTK_APPLICATION(running) : nullptr;
             }),
             .recordingsDirectory = applicationDataDirectory() / "recordings",
             .defaults = defaults,
             .signals = recordingSignals,
         }] { return loadMeetingRecorder(recordingEngineModule(mainBundleDirectory()), inputs); },
        services.mainLoop);
    // What keeps the application alive with no window open (a recording now, the tray companion too).
    auto holds = std::make_shared<GApplicationHolds>();
    // A recording, started by the page or from the popup, keeps the application running after its
    // last window closes.
    // Both the page and the popup reach it through one door, so the meeting session knows the
    // starts and stops under way whichever side asked.
    auto recorderCommands = std::make_shared<RecorderActivity>(std::make_shared<HoldingRecorder>(recorder, holds));
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
        .timers = services.timers,
        .recorder = recorderCommands,
        .center = services.center,
        .notifications = notifications,
        .newUUID = randomUUID,
        .appURL = [config = services.config] { return config->appURL(); },
        .openInternal = [push = services.push](const Url& url) { push->openInternal(url); },
        .signals = recordingSignals,
    });

    auto factory = std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(), applicationCacheDirectory(),
                                                          webExtensionsDirectory(mainBundleDirectory()));
    auto config = services.config;
    factory->serveRecordings(std::make_shared<RecordingSchemeHandler>(
        applicationDataDirectory() / "recordings", [config] { return origin(config->appURL()); }));
    services.webViewFactory = factory;

    auto opener = std::make_shared<GioUrlOpener>();
    services.navigationPolicy = std::make_shared<NavigationPolicy>(services.config, opener);
    services.dispatcher = std::make_shared<CommandDispatcher>(CommandPorts{
        .recorder = recorderCommands,
        .macShell = macShell,
        .notifications = notifications,
        .opener = opener,
        .signIn = std::make_shared<NativeOAuth>(std::make_shared<SignInWindowSessions>(applicationDataDirectory()),
                                                *services.mainLoop),
        .newUUID = randomUUID,
    });

    // The tray companion and D-Bus probes start once the first page is shown (or after a while).
    services.afterFirstPage = std::make_shared<AfterFirstPage>(std::chrono::seconds(5));
    OfficeApplication application(services);
    application.setToggle([macShell] { macShell->toggleWindow(); });
    application.setDelegate(std::make_shared<OfficeAppDelegate>(OfficeAppDelegate::Dependencies{
        .mainLoop = services.mainLoop.get(),
        .notifications = notifications,
        .macShell = macShell,
        .push = services.push,
        .activator = application.activator(),
        .afterFirstPage = [gate = services.afterFirstPage](std::function<void()> work) { gate->defer(std::move(work)); },
    }));
    const GtkSceneLifecycle lifecycle(application.application(), [center = services.center](bool foreground) {
        center->post(foreground ? notification_names::kSceneWillEnterForeground : notification_names::kSceneDidEnterBackground);
    });
    const int status = application.run(argc, argv);
    // The main loop ended ("終了"): a running recording is closed where it is, for the next "pending".
    recorder->closeForExit();
    return status;
}
