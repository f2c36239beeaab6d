// CPU used by capturing the system audio and the microphone for a while (the finished file encoded
// along the way included), against `parec` recording the same two sources in the same run. Needs a sound server with a default sink and source.
// Each round captures twice: without and with what watches a recording's health (the levels kept
// while capturing, the meters read ten times a second, the recorder's checks of the microphone and
// the disk), and prints the difference as a share of one core.
//
//   tools/test-env.sh build/bench/capture_cpu [--seconds 60] [--rounds 1]
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <atomic>

#include "bench/BenchSupport.h"
#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/glib/GioFreeSpace.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "recording/RecordingHealth.h"

namespace fs = std::filesystem;

namespace {

std::string output(const char* command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command, "r"), pclose);
    std::string text;
    std::array<char, 256> buffer{};
    while (pipe && fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()) != nullptr) text += buffer.data();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

pid_t parec(const std::string& device, const fs::path& file) {
    const pid_t child = fork();
    if (child == 0) {
        execlp("parec", "parec", "-d", device.c_str(), "--format=float32le", "--rate=16000", "--channels=1",
               "--latency-msec=50", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

// CPU seconds of this process while the capture runs for `seconds` into `dir`; below zero when it
// does not start. The capture stops before the mix-down, so only capturing counts.
double ours(const fs::path& dir, long seconds, bool health) {
    fs::create_directories(dir);
    auto signals = health ? std::make_shared<orvan::RecordingSignals>() : nullptr;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    orvan::PulseSystemAudio systemAudio(orvan::SystemAudioCapturePorts{
        .applicationIdentifier = "jp.tomoriva.OrvanOffice.bench",
        .clock = std::make_shared<orvan::SteadyClock>(),
        .converters = std::make_shared<orvan::SwrAudioConverters>(),
        .writers = std::make_shared<orvan::FfmpegAudioFileWriters>(),
        .notifications = nullptr,
        .signals = signals,
    });
    std::promise<orvan::SystemAudio::Started> started;
    systemAudio.start(dir, [&](orvan::SystemAudio::Started answer) { started.set_value(std::move(answer)); });
    auto answer = started.get_future().get();
    if (!std::holds_alternative<std::shared_ptr<orvan::SystemAudioCapturing>>(answer)) {
        std::printf("capture did not start: %s\n", std::get<orvan::RecordingFailure>(answer).description().c_str());
        return -1;
    }
    auto capture = std::get<std::shared_ptr<orvan::SystemAudioCapturing>>(answer);
    // As in the shell: the recorder's checks on a queue of their own, the popup's meters read
    // every tenth of a second.
    orvan::SerialQueue queue("jp.tomoriva.OrvanOffice.bench.recorder", std::make_shared<orvan::SteadyClock>());
    orvan::RecordingHealthWatch watch(queue, {signals, std::make_shared<orvan::GioFreeSpace>(), {}});
    std::atomic<bool> done = false;
    std::thread meters;
    if (health) {
        queue.sync([&] { watch.begin(dir, 2 * 4 * 16000 + 8000); });
        meters = std::thread([&] {
            while (!done) {
                (void)signals->takePeak(orvan::RecordingSignals::Input::microphone);
                (void)signals->takePeak(orvan::RecordingSignals::Input::systemAudio);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    rusage during{};
    getrusage(RUSAGE_SELF, &during);
    done = true;
    if (meters.joinable()) meters.join();
    queue.sync([&] { watch.end(); });
    std::promise<void> stopped;
    capture->stop([&](std::variant<fs::path, orvan::RecordingFailure>) { stopped.set_value(); });
    stopped.get_future().wait();
    return orvan::bench::cpuSeconds(during) - orvan::bench::cpuSeconds(before);
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = 60;
    long rounds = 1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atol(argv[i + 1]);
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1L, std::atol(argv[i + 1]));
    }
    char pattern[] = "/tmp/orvan-capture-bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root = pattern;

    // Ours, alternating without and with, so a busier moment of the machine falls on both alike.
    double without = 0;
    double with = 0;
    for (long round = 0; round < rounds; ++round) {
        const double plain = ours(root / ("plain-" + std::to_string(round)), seconds, false);
        const double watched = ours(root / ("watched-" + std::to_string(round)), seconds, true);
        if (plain < 0 || watched < 0) return 1;
        std::printf("round %ld: %.3f s without, %.3f s with the health watch\n", round + 1, plain, watched);
        without += plain;
        with += watched;
    }
    const double captured = static_cast<double>(seconds * rounds);

    // parec: two processes, the same two sources, the same format and fragment.
    const std::string sink = output("pactl get-default-sink");
    const std::string monitor = output(("pactl list short sinks >/dev/null; pactl list sinks | awk '/Name: " + sink +
                                        "$/{f=1} f&&/Monitor Source:/{print $3; exit}'").c_str());
    const std::string source = output("pactl get-default-source");
    const pid_t system = parec(monitor, root / "parec-system.f32");
    const pid_t mic = parec(source, root / "parec-mic.f32");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double theirs = 0;
    for (pid_t child : {system, mic}) {
        kill(child, SIGINT);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        theirs += orvan::bench::cpuSeconds(usage);
    }
    std::printf("capture of %s and %s for %ld s\n", monitor.c_str(), source.c_str(), seconds);
    const double mine = with / static_cast<double>(rounds);
    std::printf("ours (both streams, one process): %6.3f s CPU (%.2f %% of one core; the file is encoded as it goes)\n",
                mine, 100 * with / captured);
    std::printf("  without the health watch:       %6.3f s CPU (%.2f %% of one core)\n",
                without / static_cast<double>(rounds), 100 * without / captured);
    std::printf("  the health watch's share:       %+6.3f %% of one core\n", 100 * (with - without) / captured);
    std::printf("parec (two processes):            %6.3f s CPU\n", theirs);
    if (theirs > 0) std::printf("ratio (ours / parec):             %6.2f\n", mine / theirs);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
