// The finished file encoded while recording: what the encoder is handed equals a whole mix-down of
// the same tracks, and the stop only has the tail left, with buffers arriving late and a pause.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "tests/unit/SystemAudioCaptureFixture.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

constexpr int kRate = 16000;

// Different at every frame and per stream, so a sample in the wrong place shows.
float sampleAt(CaptureOutputType type, std::int64_t frame) {
    const double f = type == CaptureOutputType::systemAudio ? 0.0131 : 0.0277;
    return static_cast<float>(0.6 * std::sin(f * static_cast<double>(frame)));
}

class ProgressiveMixdownTest : public SystemAudioCaptureFixture {
protected:
    // Half a second of `type` stamped at `t`, holding the stream's own frames from `first` on.
    void deliver(CaptureOutputType type, double t, std::int64_t first, std::size_t frames = kRate / 2) {
        std::vector<float> samples(frames);
        for (std::size_t i = 0; i < frames; ++i) samples[i] = sampleAt(type, first + static_cast<std::int64_t>(i));
        SystemAudioCaptureFixture::deliver(type, t, samples);
    }
    // Both streams for `seconds` from `t`, half a second a buffer; the microphone a little behind.
    void record(double t, double seconds) {
        for (double at = 0; at < seconds; at += 0.5) {
            const auto frame = static_cast<std::int64_t>(std::lround((t + at) * kRate));
            deliver(CaptureOutputType::systemAudio, t + at, frame);
            deliver(CaptureOutputType::microphone, t + at + 0.02, frame);
        }
    }

    // Stops, with what the writer held just before; answers how much was handed over after it.
    std::size_t stopAndCountTail() {
        const std::size_t before = writers->frames();
        EXPECT_TRUE(std::holds_alternative<fs::path>(stopAndWait(*capture)));
        return writers->frames() - before;
    }

    // What a whole mix-down of the tracks as they stand hands the encoder.
    std::pair<std::vector<float>, std::vector<float>> wholeMixdown() {
        const fs::path copy = temp.path() / "copy";
        fs::create_directories(copy);
        capture->queue().sync([] {});
        fs::copy_file(dir() / "system.f32", copy / "system.f32");
        fs::copy_file(dir() / "mic.f32", copy / "mic.f32");
        FakeWriters whole;
        EXPECT_TRUE(std::holds_alternative<fs::path>(SystemAudioCapture::finalize(copy, whole, echo.get())));
        return {whole.system, whole.mic};
    }
};

TEST_F(ProgressiveMixdownTest, TheStopEncodesOnlyTheTailAndTheFileEqualsAWholeMixdown) {
    record(100.0, 40.0);
    // A buffer placed a few seconds behind the newest (a stream whose clock just settled) still
    // lands ahead of the encode.
    deliver(CaptureOutputType::microphone, 137.0, 999);
    capture->pause();
    deliver(CaptureOutputType::systemAudio, 150.0, 0);  // dropped: paused
    capture->resume();
    record(151.0, 30.0);
    const auto [system, mic] = wholeMixdown();

    const std::size_t tail = stopAndCountTail();
    EXPECT_LE(tail, ProgressiveMixdown::kDefaultMarginFrames + 2 * RawTrackMixer::blockFrames);
    EXPECT_EQ(writers->created.size(), 1u);
    ASSERT_EQ(writers->system.size(), system.size());
    EXPECT_EQ(writers->system, system);
    EXPECT_EQ(writers->mic, mic);
    EXPECT_TRUE(fs::exists(dir() / "meeting.m4a"));
    EXPECT_FALSE(fs::exists(dir() / "system.f32"));
}

TEST_F(ProgressiveMixdownTest, ABufferWhereTheEncodeHasPassedStartsItOver) {
    record(100.0, 40.0);
    deliver(CaptureOutputType::microphone, 101.0, 5);
    record(140.0, 20.0);
    const auto [system, mic] = wholeMixdown();

    stopAndCountTail();
    EXPECT_EQ(writers->created.size(), 2u);
    EXPECT_EQ(writers->system, system);
    EXPECT_EQ(writers->mic, mic);
}

}  // namespace
}  // namespace orvan
