// A panel for the end-to-end tests: serves org.kde.StatusNotifierWatcher and prints
// "registered <service>" for every item that registers, until it is stopped.
#include <cstdio>

#include "tests/integration/FakeStatusNotifierHost.h"

int main() {
    orvan::testing::FakeStatusNotifierHost panel;
    std::printf("ready\n");
    std::fflush(stdout);
    std::size_t told = 0;
    for (;;) {
        g_main_context_iteration(nullptr, TRUE);
        for (; told < panel.registered.size(); ++told) {
            std::printf("registered %s\n", panel.registered[told].c_str());
            std::fflush(stdout);
        }
    }
}
