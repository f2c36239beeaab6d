// The one place where the logic and its Linux adapters are wired together.
#include <gtk/gtk.h>

#include <memory>

#include "platform/linux/GLibMainLoop.h"
#include "platform/linux/OfficeApplication.h"
#include "platform/linux/PlistInfoDictionary.h"
#include "platform/linux/SyslogSink.h"
#include "platform/linux/WebKitWebViewFactory.h"

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
    services.webViewFactory =
        std::make_shared<WebKitWebViewFactory>(applicationDataDirectory(), applicationCacheDirectory());

    OfficeApplication application(services);
    return application.run(argc, argv);
}
