#pragma once

#include <memory>
#include <string>

#include "linux/glib/GLibMainLoop.h"
#include "linux/webkit/ShellServices.h"
#include "tests/fakes/FakeInfoDictionary.h"

namespace orvan::testing {

// The shell's process-wide objects on the real main loop, with the app URL set to `appURL`.
inline ShellServices makeShellServices(const std::string& appURL, std::shared_ptr<WebViewFactory> factory) {
    auto info = std::make_shared<FakeInfoDictionary>();
    info->strings[AppConfig::kAppURLKey] = appURL;
    ShellServices services;
    services.mainLoop = std::make_shared<GLibMainLoop>();
    services.center = NotificationCenter::create(*services.mainLoop);
    services.config = std::make_shared<AppConfig>(info);
    services.registry = std::make_shared<CoordinatorRegistry>();
    services.push = std::make_shared<PushNotifications>(services.center);
    services.webViewFactory = std::move(factory);
    return services;
}

}  // namespace orvan::testing
