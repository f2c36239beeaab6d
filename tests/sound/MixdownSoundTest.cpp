// Raw tracks mixed into the finished two-channel file by FFmpeg, checked by frequency per channel.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "recording/SystemAudioCapture.h"
#include "tests/sound/ToneSource.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

constexpr int kRate = 16000;
constexpr double kSystemTone = 440;   // 11 periods in 400 samples
constexpr double kMicTone = 1000;     // 25 periods in 400 samples
constexpr std::size_t kWindow = 400;

void writeTrack(const fs::path& file, const std::vector<float>& samples) {
    std::string bytes(samples.size() * sizeof(float), '\0');
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    writeFile(file, bytes);
}

DecodedAudio channel(const fs::path& file, int index) {
    std::string error;
    auto decoded = decodeAudio(file, &error, index);
    if (!decoded) ADD_FAILURE() << "cannot decode channel " << index << " of " << file << ": " << error;
    return decoded.value_or(DecodedAudio{});
}

// Smallest share of `frequency` over windows of [from, to) samples.
double smallestShare(const DecodedAudio& audio, double frequency, std::size_t from, std::size_t to) {
    double smallest = 1;
    for (std::size_t at = from; at + kWindow <= to; at += kWindow) {
        smallest = std::min(smallest, toneShare(audio.samples, at, kWindow, frequency, kRate));
    }
    return smallest;
}

class MixdownSoundTest : public ::testing::Test {
protected:
    TempDirectory temp{"orvan-mixdown"};
    FfmpegAudioFileWriters writers;
};

TEST_F(MixdownSoundTest, EachTrackIsHeardOnItsOwnChannelFromTheFirstSample) {
    const fs::path dir = temp.path() / "session";
    writeTrack(dir / "system.f32", tone(kSystemTone, 0, 3 * kRate));
    writeTrack(dir / "mic.f32", tone(kMicTone, 0, 2 * kRate, kRate, 0.3f));

    const auto mixed = SystemAudioCapture::finalize(dir, writers);
    ASSERT_TRUE(std::holds_alternative<fs::path>(mixed));
    const fs::path file = std::get<fs::path>(mixed);
    EXPECT_EQ(file, dir / "meeting.m4a");
    EXPECT_FALSE(fs::exists(dir / "meeting.partial.m4a"));
    EXPECT_FALSE(fs::exists(dir / "system.f32"));
    EXPECT_FALSE(fs::exists(dir / "mic.f32"));

    const auto system = channel(file, 0);
    const auto mic = channel(file, 1);
    EXPECT_EQ(system.channels, 2);
    EXPECT_EQ(system.sampleRate, kRate);
    // The priming is hidden: the file lasts as long as the longer track, to a few samples.
    EXPECT_NEAR(system.seconds(), 3.0, 0.01);
    EXPECT_NEAR(mic.seconds(), 3.0, 0.01);
    // Sound from the very start, not after a priming gap.
    EXPECT_GT(rms(system.samples, 0, 800), 0.25);
    EXPECT_GT(smallestShare(system, kSystemTone, 800, 3 * kRate - 800), 0.95);
    EXPECT_LT(toneShare(system.samples, 8000, 16000, kMicTone, kRate), 0.02);
    EXPECT_GT(smallestShare(mic, kMicTone, 800, 2 * kRate - 800), 0.95);
    EXPECT_LT(toneShare(mic.samples, 8000, 16000, kSystemTone, kRate), 0.02);
    // The microphone ended after two seconds: the rest of its channel is silence.
    EXPECT_LT(rms(mic.samples, 2 * kRate + 800, kRate - 1600), 0.01);
    // Levels survive: amplitude A gives RMS A/√2.
    EXPECT_NEAR(rms(system.samples, 8000, 16000), 0.5 / std::sqrt(2.0), 0.03);
    EXPECT_NEAR(rms(mic.samples, 8000, 16000), 0.3 / std::sqrt(2.0), 0.03);

    // Once finished, the file is answered as it is.
    const auto again = SystemAudioCapture::finalize(dir, writers);
    ASSERT_TRUE(std::holds_alternative<fs::path>(again));
    EXPECT_EQ(std::get<fs::path>(again), file);
}

}  // namespace
}  // namespace orvan
