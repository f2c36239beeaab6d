// A stream's clock against the monotonic one, simulated: a device 100 ppm fast, read in 50 ms
// buffers with jittery timing readings, for five hours.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "recording/StreamClock.h"

namespace orvan {
namespace {

TEST(StreamClockTest, AFastDeviceStaysOnTheMonotonicClockForFiveHours) {
    // A low rate keeps five hours quick; the mend does not depend on it.
    constexpr int kRate = 1000;
    constexpr double kFast = 100e-6;
    constexpr double kCaptureStart = 5000.0;
    constexpr std::int64_t kWrap = 1 << 20;  // sample values count up to here, exactly as floats
    const auto capturedAt = [&](double inputFrame) { return kCaptureStart + inputFrame / (kRate * (1 + kFast)); };

    StreamClock clock(kCaptureStart + 0.004, StreamClock::Options{.rate = kRate});
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.003, 0.003);
    std::vector<float> buffer(kRate / 20);
    std::int64_t input = 0;
    double largest = 0;
    for (double seconds = 0; seconds < 5 * 3600; seconds += 0.05) {
        clock.observe(static_cast<std::uint64_t>(input), capturedAt(static_cast<double>(input)) + jitter(random));
        for (auto& sample : buffer) sample = static_cast<float>(input++ % kWrap);
        const auto placed = static_cast<double>(clock.outputFrames());
        const auto out = clock.place(buffer.data(), buffer.size());
        if (out.empty() || seconds < 60) continue;
        // Which input sample the first output is, and when it was captured; its place on the timeline.
        const double value = out.front();
        const double inputFrame = value + kWrap * std::round((placed - value) / kWrap);
        const double error = clock.anchor() + placed / kRate - capturedAt(inputFrame);
        largest = std::max(largest, std::abs(error));
    }
    std::printf("largest offset from the monotonic clock after the first minute: %.1f ms\n", 1000 * largest);
    // Timed by its sample count alone it would be 1.8 s off at the end.
    EXPECT_LT(largest, 0.010);
}

TEST(StreamClockTest, AMisreadAnchorIsTakenBackWithoutAChangeOfPitch) {
    // A device on an exact clock whose anchor was read 0.3 s early, as a device just woken reports.
    constexpr int kRate = 1000;
    constexpr double kCaptureStart = 5000.0;
    StreamClock clock(kCaptureStart - 0.3, StreamClock::Options{.rate = kRate});
    std::vector<float> buffer(kRate / 20, 0.0f);
    std::uint64_t input = 0;
    double mostStretch = 0;
    for (double seconds = 0; seconds < 600; seconds += 0.05) {
        clock.observe(input, kCaptureStart + static_cast<double>(input) / kRate);
        clock.place(buffer.data(), buffer.size());
        input += buffer.size();
        mostStretch = std::max(mostStretch, std::abs(clock.ratio() - 1.0));
    }
    EXPECT_LE(mostStretch, 0.001 + 1e-9);
    // Where the timeline puts the next sample against when it was captured.
    const double offset = clock.anchor() + static_cast<double>(clock.outputFrames()) / kRate -
                          (kCaptureStart + static_cast<double>(input) / kRate);
    EXPECT_LT(std::abs(offset), 0.02);
}

}  // namespace
}  // namespace orvan
