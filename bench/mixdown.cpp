// Mixing a pair of raw tracks (system audio, microphone) into the two-channel meeting file, against
// the ffmpeg command line doing the same job (two f32 inputs merged into two channels, AAC 64 kbit/s)
// in the same run: wall time of each, their ratio, and each one's peak memory.
//
//   build/bench/mixdown [--seconds 3600]
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "recording/SystemAudioCapture.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 16000;

// A track of `seconds` of a tone, written a second at a time.
void writeTrack(const fs::path& file, double frequency, long seconds) {
    std::ofstream out(file, std::ios::binary);
    std::vector<float> block(kRate);
    const double step = 2 * std::numbers::pi * frequency / kRate;
    for (long s = 0; s < seconds; ++s) {
        for (int i = 0; i < kRate; ++i) {
            block[static_cast<std::size_t>(i)] =
                0.4f * static_cast<float>(std::sin(step * static_cast<double>(s * kRate + i)));
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * sizeof(float)));
    }
}

struct Run {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

// Runs `work` in a child process of its own, so its peak memory is its alone.
Run measure(const std::function<int()>& work) {
    const auto began = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) _exit(work());
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    run.peakKiB = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = 3600;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atol(argv[i + 1]);
    }
    char pattern[] = "/tmp/orvan-mixdown-bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root = pattern;
    const fs::path ours = root / "ours";
    fs::create_directories(ours);
    std::printf("writing two raw tracks of %ld s\n", seconds);
    writeTrack(root / "system.f32", 880, seconds);
    writeTrack(root / "mic.f32", 440, seconds);
    fs::copy_file(root / "system.f32", ours / "system.f32");
    fs::copy_file(root / "mic.f32", ours / "mic.f32");

    const Run own = measure([&] {
        orvan::FfmpegAudioFileWriters writers;
        const auto mixed = orvan::SystemAudioCapture::finalize(ours, writers);
        return std::holds_alternative<fs::path>(mixed) ? 0 : 1;
    });
    const std::string output = (root / "cli.m4a").string();
    const std::string system = (root / "system.f32").string();
    const std::string mic = (root / "mic.f32").string();
    const Run cli = measure([&] {
        execlp("ffmpeg", "ffmpeg", "-v", "error", "-y", "-f", "f32le", "-ar", "16000", "-ac", "1", "-i", system.c_str(),
               "-f", "f32le", "-ar", "16000", "-ac", "1", "-i", mic.c_str(), "-filter_complex", "amerge=inputs=2",
               "-c:a", "aac", "-b:a", "64k", "-ar", "16000", output.c_str(), static_cast<char*>(nullptr));
        return 127;
    });

    std::printf("mix-down (finalize):    %7.2f s, peak %6.1f MB%s\n", own.seconds, static_cast<double>(own.peakKiB) / 1024,
                own.ok ? "" : "  FAILED");
    std::printf("ffmpeg command line:    %7.2f s, peak %6.1f MB%s\n", cli.seconds, static_cast<double>(cli.peakKiB) / 1024,
                cli.ok ? "" : "  FAILED");
    if (own.ok && cli.ok) std::printf("ratio (ours / ffmpeg):  %7.2f\n", own.seconds / cli.seconds);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return own.ok && cli.ok ? 0 : 1;
}
