// The file encoded while recording, decoded, against a whole mix-down of the same tracks: the same
// audio on both channels, sample by sample.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <future>

#include "app/NotificationCenter.h"
#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "recording/SystemAudioCapture.h"
#include "tests/sound/ToneSource.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

constexpr int kRate = 16000;

class NoMainLoop final : public MainLoop {
public:
    void post(std::function<void()>) override {}
};

TEST(ProgressiveMixdownSoundTest, TheFileEncodedWhileRecordingDecodesAsAWholeMixdownDoes) {
    TempDirectory temp("orvan-progressive");
    const fs::path dir = temp.path() / "session";
    fs::create_directories(dir);
    NoMainLoop loop;
    auto writers = std::make_shared<FfmpegAudioFileWriters>();
    auto capture = std::get<std::shared_ptr<SystemAudioCapture>>(SystemAudioCapture::create(
        dir, SystemAudioCapturePorts{.applicationIdentifier = "jp.tomoriva.OrvanOffice",
                                     .clock = std::make_shared<SteadyClock>(),
                                     .converters = std::make_shared<SwrAudioConverters>(),
                                     .writers = writers,
                                     .notifications = NotificationCenter::create(loop)}));
    const auto deliver = [&](CaptureOutputType type, double t, const std::vector<float>& samples) {
        const CapturedBuffer buffer{.type = type, .valid = true, .presentationTime = t,
                                    .format = CaptureFormat{.sampleRate = kRate, .channels = 1},
                                    .samples = samples.data(), .frames = samples.size()};
        capture->queue().sync([&] { capture->handle(buffer); });
    };
    for (int b = 0; b < 2 * 30; ++b) {
        const double t = 10.0 + b * 0.5;
        deliver(CaptureOutputType::systemAudio, t, tone(880, b * kRate / 2, kRate / 2));
        deliver(CaptureOutputType::microphone, t + 0.01, tone(440, b * kRate / 2, kRate / 2, kRate, 0.3f));
        // A microphone buffer that comes late, a few seconds behind.
        if (b == 40) deliver(CaptureOutputType::microphone, 25.3, tone(1000, 0, kRate / 4));
    }
    const fs::path whole = temp.path() / "whole";
    fs::create_directories(whole);
    fs::copy_file(dir / "system.f32", whole / "system.f32");
    fs::copy_file(dir / "mic.f32", whole / "mic.f32");
    ASSERT_TRUE(std::holds_alternative<fs::path>(SystemAudioCapture::finalize(whole, *writers)));

    std::promise<std::variant<fs::path, RecordingFailure>> stopped;
    capture->stop([&](auto result) { stopped.set_value(std::move(result)); });
    const auto result = stopped.get_future().get();
    ASSERT_TRUE(std::holds_alternative<fs::path>(result));

    for (int channel = 0; channel < 2; ++channel) {
        const auto ours = decodeAudio(std::get<fs::path>(result), nullptr, channel);
        const auto reference = decodeAudio(whole / "meeting.m4a", nullptr, channel);
        ASSERT_TRUE(ours && reference);
        ASSERT_EQ(ours->samples.size(), reference->samples.size());
        ASSERT_EQ(ours->samples.size(), static_cast<std::size_t>(30 * kRate + 160));
        double largest = 0;
        for (std::size_t i = 0; i < ours->samples.size(); ++i) {
            largest = std::max(largest, std::abs(static_cast<double>(ours->samples[i] - reference->samples[i])));
        }
        EXPECT_LT(largest, 1e-4) << "channel " << channel;
    }
}

}  // namespace
}  // namespace orvan
