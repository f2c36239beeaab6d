// How far a microphone whose clock runs fast drifts from the monotonic clock in a recording, with the
// capture's re-anchoring against a capture timed by sample count alone, both in the same run.
//
// The microphone is a pipe source fed by tools/offclock-feeder.py: a click at the start of every
// second of the device's own samples, delivered `ppm` fast, so in real time the clicks are
// 1 / (1 + ppm·10⁻⁶) s apart. A track that keeps to the monotonic clock has them exactly that far
// apart; the drift is how far the last click is from where that puts it. The default runs a minute
// at 6000 ppm: the drift of an hour at 100 ppm (a USB headset against HDMI speakers), accelerated.
//
//   tools/test-env.sh build/bench/capture_drift [--seconds 60] [--ppm 6000]
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "tests/support/AudioCheck.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 16000;

std::string output(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string text;
    std::array<char, 256> buffer{};
    while (pipe && fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()) != nullptr) text += buffer.data();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::shared_ptr<orvan::SystemAudioCapturing> start(orvan::PulseSystemAudio& systemAudio, const fs::path& dir) {
    fs::create_directories(dir);
    std::promise<orvan::SystemAudio::Started> started;
    systemAudio.start(dir, [&](orvan::SystemAudio::Started answer) { started.set_value(std::move(answer)); });
    auto answer = started.get_future().get();
    if (const auto* failure = std::get_if<orvan::RecordingFailure>(&answer)) {
        std::printf("capture did not start: %s\n", failure->description().c_str());
        return nullptr;
    }
    return std::get<std::shared_ptr<orvan::SystemAudioCapturing>>(answer);
}

// The microphone channel of the finished recording.
std::vector<float> stopAndDecode(orvan::SystemAudioCapturing& capture) {
    std::promise<std::variant<fs::path, orvan::RecordingFailure>> stopped;
    capture.stop([&](std::variant<fs::path, orvan::RecordingFailure> result) { stopped.set_value(std::move(result)); });
    const auto result = stopped.get_future().get();
    if (const auto* failure = std::get_if<orvan::RecordingFailure>(&result)) {
        std::printf("not finished: %s\n", failure->description().c_str());
        return {};
    }
    auto decoded = orvan::testing::decodeAudio(std::get<fs::path>(result), nullptr, 1);
    return decoded ? decoded->samples : std::vector<float>{};
}

// Frames where the clicks begin.
std::vector<std::size_t> clicks(const std::vector<float>& samples) {
    std::vector<std::size_t> onsets;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 0.2f) {
            onsets.push_back(i);
            i += kRate / 2;
        }
    }
    return onsets;
}

// How far click `to` is from where the monotonic clock puts it, counted from click `from`.
double driftSeconds(const std::vector<std::size_t>& onsets, std::size_t from, std::size_t to, double ppm) {
    if (to >= onsets.size() || from >= to) return NAN;
    const double apart = 1.0 / (1.0 + ppm * 1e-6);
    return static_cast<double>(onsets[to] - onsets[from]) / kRate - static_cast<double>(to - from) * apart;
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = 60;
    double ppm = 6000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atol(argv[i + 1]);
        if (std::strcmp(argv[i], "--ppm") == 0) ppm = std::atof(argv[i + 1]);
    }
    char pattern[] = "/tmp/orvan-drift-bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root = pattern;
    const fs::path fifo = root / "drift.fifo";

    const std::string module = output("pactl load-module module-pipe-source source_name=drift file=" + fifo.string() +
                                      " format=float32le rate=16000 channels=1");
    if (module.empty()) {
        std::printf("cannot load the pipe source: run inside tools/test-env.sh\n");
        return 1;
    }
    const std::string previousSource = output("pactl get-default-source");
    output("pactl set-default-source drift");
    const pid_t feeder = fork();
    if (feeder == 0) {
        const std::string rate = std::to_string(kRate);
        const std::string error = std::to_string(ppm);
        execlp("python3", "python3", ORVAN_OFFCLOCK_FEEDER, fifo.c_str(), rate.c_str(), error.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }

    const auto ports = orvan::SystemAudioCapturePorts{
        .applicationIdentifier = "jp.tomoriva.OrvanOffice.bench",
        .clock = std::make_shared<orvan::SteadyClock>(),
        .converters = std::make_shared<orvan::SwrAudioConverters>(),
        .writers = std::make_shared<orvan::FfmpegAudioFileWriters>(),
        .notifications = nullptr,
    };
    orvan::PulseSystemAudio mended(ports);
    orvan::PulseSystemAudio counted(ports, /*mendDrift=*/false);
    auto withMend = start(mended, root / "mended");
    auto withoutMend = start(counted, root / "counted");
    int status = 1;
    if (withMend && withoutMend) {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const auto mendedClicks = clicks(stopAndDecode(*withMend));
        const auto countedClicks = clicks(stopAndDecode(*withoutMend));
        const std::size_t last = std::min(mendedClicks.size(), countedClicks.size()) - 1;
        const double mendedDrift = driftSeconds(mendedClicks, 0, last, ppm);
        const double countedDrift = driftSeconds(countedClicks, 0, last, ppm);
        // Where the clicks of the second half lie, against the line through the first click: the
        // steady state, after the first re-anchorings have found the device's rate.
        double steady = 0;
        for (std::size_t k = last / 2; k <= last; ++k) {
            steady = std::max(steady, std::abs(driftSeconds(mendedClicks, 0, k, ppm)));
        }
        const double hours = static_cast<double>(last) * ppm / 100.0 / 3600.0;  // clicks are a second apart
        std::printf("microphone %.0f ppm fast for %ld s: the drift of %.2f h at 100 ppm\n", ppm, seconds, hours);
        std::printf("drift by sample count alone:  %8.1f ms\n", 1000 * countedDrift);
        std::printf("drift with re-anchoring:      %8.1f ms (at most %.1f ms in the second half)\n",
                    1000 * mendedDrift, 1000 * steady);
        status = std::isfinite(mendedDrift) ? 0 : 1;
    }
    withMend.reset();
    withoutMend.reset();
    kill(feeder, SIGTERM);
    waitpid(feeder, nullptr, 0);
    output("pactl set-default-source " + previousSource);
    output("pactl unload-module " + module);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return status;
}
