// How long "stop" takes to hand over the meeting file of a system-audio recording, for a 1-minute
// and a 60-minute recording fed through the capture faster than real time (50 ms buffers of both
// streams, as the sound server delivers them), against a whole mix-down of the same tracks (what
// stop did before the file was encoded while recording) in the same run. Also prints the CPU the
// recording itself used, as a share of one core at real time. The echo canceller runs as in the shell,
// on every frame: the system track never falls silent here.
//
//   build/bench/stop_to_file [--minutes 1,60]
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "app/NotificationCenter.h"
#include "bench/BenchSupport.h"
#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "linux/webrtc/WebRtcEchoCancellers.h"
#include "recording/SystemAudioCapture.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using namespace orvan;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 16000;
constexpr std::size_t kBuffer = 800;  // 50 ms

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Result {
    double recordCpu = 0;  // per second of audio
    double stop = 0;
    double whole = 0;
    double writeback = 0;
};

Result run(const fs::path& root, long seconds) {
    const fs::path dir = root / ("recording-" + std::to_string(seconds));
    fs::create_directories(dir);
    bench::NoMainLoop loop;
    auto writers = std::make_shared<FfmpegAudioFileWriters>();
    auto created = SystemAudioCapture::create(
        dir, SystemAudioCapturePorts{.applicationIdentifier = "jp.tomoriva.OrvanOffice",
                                     .clock = std::make_shared<SteadyClock>(),
                                     .converters = std::make_shared<SwrAudioConverters>(),
                                     .writers = writers,
                                     .notifications = NotificationCenter::create(loop),
                                     .echoCancellers = std::make_shared<WebRtcEchoCancellers>()});
    auto capture = std::get<std::shared_ptr<SystemAudioCapture>>(created);

    // One second of each tone, a whole number of periods: the feed repeats it and costs nothing.
    std::vector<float> systemTone(kRate);
    std::vector<float> micTone(kRate);
    for (int i = 0; i < kRate; ++i) {
        systemTone[static_cast<std::size_t>(i)] = static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * 880 * i / kRate));
        micTone[static_cast<std::size_t>(i)] = static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * 440 * i / kRate));
    }
    const double cpuBefore = bench::processCpuSeconds();
    const auto buffers = static_cast<std::int64_t>(seconds) * kRate / static_cast<std::int64_t>(kBuffer);
    for (std::int64_t b = 0; b < buffers; ++b) {
        const std::int64_t first = b * static_cast<std::int64_t>(kBuffer);
        const std::size_t offset = static_cast<std::size_t>(first % kRate);
        const double t = 1000.0 + static_cast<double>(first) / kRate;
        const CaptureFormat format{.sampleRate = kRate, .channels = 1};
        const CapturedBuffer systemBuffer{.type = CaptureOutputType::systemAudio, .valid = true,
                                          .presentationTime = t, .format = format, .samples = systemTone.data() + offset,
                                          .frames = kBuffer};
        const CapturedBuffer micBuffer{.type = CaptureOutputType::microphone, .valid = true,
                                       .presentationTime = t + 0.013, .format = format, .samples = micTone.data() + offset,
                                       .frames = kBuffer};
        capture->queue().sync([&] {
            capture->handle(systemBuffer);
            capture->handle(micBuffer);
        });
    }
    Result result;
    result.recordCpu = (bench::processCpuSeconds() - cpuBefore) / static_cast<double>(seconds);

    // The reference: the same tracks mixed as a whole.
    const fs::path copy = root / ("whole-" + std::to_string(seconds));
    fs::create_directories(copy);
    fs::copy_file(dir / SystemAudioCapture::kSystemTrackName, copy / SystemAudioCapture::kSystemTrackName);
    fs::copy_file(dir / SystemAudioCapture::kMicTrackName, copy / SystemAudioCapture::kMicTrackName);

    // A real recording's tracks are written back by the kernel as it goes; fed this fast they are
    // not, and the stop's flush of the tracks would measure the disk instead.
    auto started = Clock::now();
    ::sync();
    result.writeback = since(started);
    started = Clock::now();
    std::promise<bool> stopped;
    capture->stop([&](std::variant<fs::path, RecordingFailure> file) {
        stopped.set_value(std::holds_alternative<fs::path>(file));
    });
    const bool ok = stopped.get_future().get();
    result.stop = since(started);

    started = Clock::now();
    WebRtcEchoCancellers echo;
    const bool wholeOk = std::holds_alternative<fs::path>(SystemAudioCapture::finalize(copy, *writers, &echo));
    result.whole = since(started);
    if (!ok || !wholeOk) {
        std::fprintf(stderr, "a mix-down failed\n");
        std::exit(1);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> minutes{1, 60};
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--minutes") {
            minutes.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');) minutes.push_back(std::atol(item.c_str()));
        }
    }
    orvan::testing::TempDirectory temporary("orvan-stop-bench");
    std::printf("%-10s %14s %20s %8s %22s\n", "recording", "stop-to-file", "whole mix-down (ref)", "ratio",
                "recording CPU (1 core)");
    for (const long m : minutes) {
        const auto result = run(temporary.path(), m * 60);
        std::printf("%4ld min   %12.3f s %18.3f s %8.3f %21.2f %%\n", m, result.stop, result.whole,
                    result.stop / result.whole, result.recordCpu * 100);
        std::fflush(stdout);
    }
    return 0;
}
