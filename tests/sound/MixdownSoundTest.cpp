// The two-channel file encoded while recording, by FFmpeg: decoded, it equals a whole mix-down of the
// same raw tracks sample by sample, and each track is heard on its own channel from the first sample.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "app/NotificationCenter.h"
#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "recording/SystemAudioCapture.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/sound/ToneSource.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/StopAndWait.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

constexpr int kRate = 16000;
constexpr std::size_t kWindow = 400;  // whole periods of 440 Hz and 880 Hz

TEST(MixdownSoundTest, TheFileEncodedWhileRecordingEqualsAWholeMixdownWithEachTrackOnItsOwnChannel) {
    TempDirectory temp("orvan-progressive");
    const fs::path dir = temp.path() / "session";
    fs::create_directories(dir);
    FakeMainLoop loop;  // never run: nothing is posted that matters here
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
        // A microphone buffer that comes late, a few seconds behind (at 15.3 s).
        if (b == 40) deliver(CaptureOutputType::microphone, 25.3, tone(1000, 0, kRate / 4));
    }
    const fs::path whole = temp.path() / "whole";
    fs::create_directories(whole);
    fs::copy_file(dir / "system.f32", whole / "system.f32");
    fs::copy_file(dir / "mic.f32", whole / "mic.f32");
    ASSERT_TRUE(std::holds_alternative<fs::path>(SystemAudioCapture::finalize(whole, *writers)));

    const auto result = stopAndWait(*capture);
    ASSERT_TRUE(std::holds_alternative<fs::path>(result));

    std::vector<DecodedAudio> channels;
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
        channels.push_back(*ours);
    }

    const auto& system = channels[0].samples;
    const auto& mic = channels[1].samples;
    EXPECT_EQ(channels[0].channels, 2);
    // Sound from the very start, not after the encoder's priming.
    EXPECT_GT(rms(system, 0, 800), 0.25);
    EXPECT_GT(toneLevels(system, 880, kRate, kWindow, 800).smallestShare, 0.95);
    EXPECT_GT(toneLevels(std::vector<float>(mic.begin(), mic.begin() + 15 * kRate), 440, kRate, kWindow, 800).smallestShare,
              0.95);
    // Each tone only on its own channel, at its own level (amplitude A gives RMS A/√2).
    EXPECT_LT(toneShare(system, 8000, 16000, 440, kRate), 0.02);
    EXPECT_LT(toneShare(mic, 8000, 16000, 880, kRate), 0.02);
    EXPECT_NEAR(rms(system, 8000, 16000), 0.5 / std::sqrt(2.0), 0.03);
    EXPECT_NEAR(rms(mic, 8000, 16000), 0.3 / std::sqrt(2.0), 0.03);
    // The late buffer landed where its time says.
    EXPECT_GT(toneShare(mic, static_cast<std::size_t>(15.3 * kRate) + 400, 2000, 1000, kRate), 0.9);
}

}  // namespace
}  // namespace orvan
