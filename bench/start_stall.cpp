// The longest stretch the main loop is held while the first recording starts (the recorder module
// loaded, the capture started, then stopped), with both cores busy, against the time that loading
// took: what the windows would have stood still for had the module been loaded on the main loop.
// Needs a sound server with a default sink and source.
//
//   tools/test-env.sh build/bench/start_stall
#include <glib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/NotificationCenter.h"
#include "linux/RecordingEngine.h"
#include "linux/glib/GLibMainLoop.h"
#include "recording/RecorderOnFirstUse.h"

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

}  // namespace

int main() {
    using namespace orvan;
    const auto data = std::filesystem::temp_directory_path() / ("start_stall-" + std::to_string(getpid()));
    auto mainLoop = std::make_shared<GLibMainLoop>();
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);

    // Both cores kept busy, as by a meeting client and a browser.
    std::atomic<bool> busy{true};
    std::vector<std::thread> load;
    for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i) {
        load.emplace_back([&busy] {
            volatile double sink = 0;
            while (busy) sink = sink + 1.0;
        });
    }

    double loadSeconds = 0;
    const RecordingEngineInputs inputs{
        .applicationIdentifier = "jp.tomoriva.OrvanOffice",
        .mainLoop = mainLoop,
        .notifications = NotificationCenter::create(*mainLoop),
        .alerts = nullptr,
        .recordingsDirectory = data / "recordings",
        .defaults = nullptr,
    };
    RecorderOnFirstUse<MeetingRecorder> recorder(
        [&]() {
            const double began = now();
            auto made = loadMeetingRecorder(recordingEngineModule(ORVAN_BUNDLE_DIR), inputs);
            loadSeconds = now() - began;
            return made;
        },
        mainLoop);

    // A tick every millisecond: the longest gap between two is the longest the loop was held.
    struct Ticks {
        double last = now();
        double longest = 0;
    } ticks;
    g_timeout_add(1, +[](gpointer state) -> gboolean {
        auto* t = static_cast<Ticks*>(state);
        const double at = now();
        t->longest = std::max(t->longest, at - t->last);
        t->last = at;
        return G_SOURCE_CONTINUE;
    }, &ticks);

    bool started = false;
    recorder.start([&](std::optional<RecordingFailure> failure) {
        started = !failure;
        if (failure) std::fprintf(stderr, "start failed: %s\n", failure->description().c_str());
        recorder.stop([&](auto) { g_main_loop_quit(loop); });
    });
    g_main_loop_run(loop);
    busy = false;
    for (auto& thread : load) thread.join();
    std::error_code ignored;
    std::filesystem::remove_all(data, ignored);

    std::printf("loading the recorder took %.1f ms with both cores busy\n", 1000 * loadSeconds);
    std::printf("longest main-loop stall from the first start to its stop: %.1f ms\n", 1000 * ticks.longest);
    std::printf("stall / loading: %.2f\n", loadSeconds > 0 ? ticks.longest / loadSeconds : 0.0);
    return started ? 0 : 1;
}
