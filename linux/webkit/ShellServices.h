#pragma once

#include <memory>

#include "app/AppConfig.h"
#include "app/NotificationCenter.h"
#include "linux/webkit/AfterFirstPage.h"
#include "platform/MainLoop.h"
#include "platform/WebViewFactory.h"
#include "push/PushNotifications.h"
#include "webhost/Coordinator.h"
#include "webhost/CoordinatorRegistry.h"

namespace orvan {

// The process-wide objects that windows are built from; made once in main().
struct ShellServices {
    std::shared_ptr<MainLoop> mainLoop;
    std::shared_ptr<NotificationCenter> center;
    std::shared_ptr<AppConfig> config;
    std::shared_ptr<CoordinatorRegistry> registry;
    std::shared_ptr<PushNotifications> push;
    std::shared_ptr<WebViewFactory> webViewFactory;
    std::shared_ptr<CommandDispatcher> dispatcher;
    std::shared_ptr<NavigationPolicy> navigationPolicy;
    std::chrono::milliseconds pagePollInterval = kPagePollInterval;
    // Optional: told about every window's view, to start deferred work after the first page.
    std::shared_ptr<AfterFirstPage> afterFirstPage;
    // Optional: what a window that cannot reach the app retries on (else only on a reload).
    std::shared_ptr<MainTimers> timers;
    std::shared_ptr<NetworkMonitor> network;

    WebHostContext webHostContext() const {
        return WebHostContext{.center = center,
                              .registry = registry,
                              .push = push,
                              .mainLoop = mainLoop.get(),
                              .dispatcher = dispatcher,
                              .navigationPolicy = navigationPolicy,
                              .syncRegistration = [push = push](const std::shared_ptr<WebView>& view) {
                                  push->syncRegistration(view);
                              },
                              .pagePollInterval = pagePollInterval,
                              .timers = timers,
                              .network = network};
    }
};

}  // namespace orvan
