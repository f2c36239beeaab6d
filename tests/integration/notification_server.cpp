// A notification server for the end-to-end tests: prints "ready", then
// "notified <summary>\t<body>" for every notification it is sent, until it is stopped.
#include <cstdio>

#include "tests/integration/FakeNotificationServer.h"

int main() {
    orvan::testing::FakeNotificationServer server;
    if (!server.own()) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    std::size_t told = 0;
    for (;;) {
        g_main_context_iteration(nullptr, TRUE);
        for (; told < server.notifications.size(); ++told) {
            std::printf("notified %s\t%s\n", server.notifications[told].summary.c_str(),
                        server.notifications[told].body.c_str());
            std::fflush(stdout);
        }
    }
}
