// The one place where the logic and its Linux adapters are wired together.
#include <gtk/gtk.h>

#include <memory>

#include "app/Uuid.h"
#include "macshell/QuietMacShell.h"
#include "platform/linux/DBusNotificationCenter.h"
#include "platform/linux/GLibMainLoop.h"
#include "platform/linux/GioUrlOpener.h"
#include "platform/linux/OfficeApplication.h"
#include "platform/linux/PlistInfoDictionary.h"
#include "platform/linux/SyslogSink.h"
#include "platform/linux/WebKitWebViewFactory.h"
#include "recording/RecorderCommands.h"
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
    services.push = std::make_shared<PushNotifications>(services.center);

    auto factory = std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(), applicationCacheDirectory());
    auto config = services.config;
    factory->serveRecordings(std::make_shared<RecordingSchemeHandler>(
        applicationDataDirectory() / "recordings", [config] { return origin(config->appURL()); }));
    services.webViewFactory = factory;

    services.dispatcher = std::make_shared<CommandDispatcher>(CommandPorts{
        .recorder = std::make_shared<NotRecordingRecorder>(),
        .macShell = std::make_shared<QuietMacShell>(),
        .notifications = std::make_shared<DBusNotificationCenter>(),
        .opener = std::make_shared<GioUrlOpener>(),
        .signIn = nullptr,
        .newUUID = randomUUID,
    });

    OfficeApplication application(services);
    return application.run(argc, argv);
}
