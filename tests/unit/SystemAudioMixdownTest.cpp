// Mixing two raw tracks into the finished file, on a fake encoder that keeps what it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recording/SystemAudioCapture.h"
#include "tests/fakes/FakeCaptureParts.h"
#include "tests/fakes/FakeUserDefaults.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using orvan::testing::FakeWriters;
using orvan::testing::TempDirectory;
using orvan::testing::writeFile;

std::string floats(const std::vector<float>& samples) {
    std::string bytes(samples.size() * sizeof(float), '\0');
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::string ramp(std::size_t frames, float scale) {
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) samples[i] = scale * static_cast<float>((i % 100) + 1) / 100.0f;
    return floats(samples);
}

// What a track's bytes hold as the mix-down must read them: whole floats only, clamped to ±1.
std::vector<float> expectedChannel(const std::optional<std::string>& bytes, std::size_t frames) {
    std::vector<float> samples(frames, 0.0f);
    const std::size_t whole = bytes ? bytes->size() / sizeof(float) : 0;
    if (whole > 0) std::memcpy(samples.data(), bytes->data(), whole * sizeof(float));
    for (auto& sample : samples) sample = std::clamp(sample, -1.0f, 1.0f);
    return samples;
}

class SystemAudioMixdownTest : public ::testing::Test {
protected:
    fs::path dir() const { return temp.path() / "0c6f8f5e-0000-4000-8000-000000000000"; }
    SystemAudioCapture::Mixed finalize() {
        return SystemAudioCapture::finalize(dir(), writers, SystemAudioCapture::echoCancellation(ports).get());
    }
    static std::string describe(const SystemAudioCapture::Mixed& mixed) {
        if (const auto* file = std::get_if<fs::path>(&mixed)) return file->filename().string();
        if (const auto* capture = std::get_if<CaptureError>(&mixed)) return capture->description();
        return std::get<SystemError>(mixed).description;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const auto& entry : fs::directory_iterator(dir())) all.push_back(entry.path().filename().string());
        std::sort(all.begin(), all.end());
        return all;
    }

    TempDirectory temp{"orvan-mixdown"};
    FakeWriters writers;
    std::shared_ptr<testing::FakeEchoCancellers> echo = std::make_shared<testing::FakeEchoCancellers>();
    std::shared_ptr<testing::FakeUserDefaults> defaults = std::make_shared<testing::FakeUserDefaults>();
    const SystemAudioCapturePorts ports{"", nullptr, nullptr, nullptr, nullptr, echo, defaults};
};

// Tracks of any length and content: the longer one sets the length, the shorter is padded with
// silence, samples are clamped, a trailing partial sample is ignored; one-second blocks, the last one
// short. Only the finished file is left: the partial one was renamed, the raw tracks removed. No
// frames at all, or nothing as loud as the silence threshold anywhere, is "empty" and keeps them.
// The microphone's channel is without the system track's echo unless the settings turn that off.
struct Tracks {
    const char* name;
    std::optional<std::string> system;
    std::optional<std::string> mic;
    const char* echoSetting = nullptr;
};

void PrintTo(const Tracks& tracks, std::ostream* out) { *out << tracks.name; }

class MixdownTracksTest : public SystemAudioMixdownTest, public ::testing::WithParamInterface<Tracks> {};

TEST_P(MixdownTracksTest, AreMixedAsTheyRead) {
    const Tracks& tracks = GetParam();
    if (tracks.echoSetting) defaults->setString("OrvanEchoCancellation", tracks.echoSetting);
    fs::create_directories(dir());
    if (tracks.system) writeFile(dir() / "system.f32", *tracks.system);
    if (tracks.mic) writeFile(dir() / "mic.f32", *tracks.mic);
    const auto before = names();
    const std::size_t frames = std::max(tracks.system.value_or("").size(), tracks.mic.value_or("").size()) / sizeof(float);
    const auto system = expectedChannel(tracks.system, frames);
    auto mic = expectedChannel(tracks.mic, frames);
    const auto loudest = [](const std::vector<float>& s) {
        return std::accumulate(s.begin(), s.end(), 0.0f, [](float m, float x) { return std::max(m, std::abs(x)); });
    };
    const bool sound = std::max(loudest(system), loudest(mic)) >= SystemAudioCapture::kSilenceThreshold;
    const bool cancelled = tracks.system && !tracks.echoSetting;
    for (std::size_t n = 0; cancelled && n < frames; ++n) mic[n] = std::clamp(mic[n] - system[n], -1.0f, 1.0f);

    const auto mixed = finalize();
    EXPECT_EQ(describe(mixed), sound ? "meeting.m4a" : "音が1つも録れていません");
    EXPECT_EQ(names(), sound ? std::vector<std::string>{"meeting.m4a"} : before);
    if (frames == 0) {
        EXPECT_TRUE(writers.created.empty());
        return;
    }
    EXPECT_EQ(writers.created, std::vector<fs::path>{dir() / "meeting.partial.m4a"});
    std::vector<std::size_t> blocks(frames / 16000, 16000);
    if (frames % 16000 != 0) blocks.push_back(frames % 16000);
    EXPECT_EQ(writers.blocks, blocks) << "the whole recording is looked at";
    EXPECT_EQ(writers.system, system);
    EXPECT_EQ(writers.mic, mic);
    EXPECT_EQ(writers.closed, 1);
    EXPECT_EQ(echo->frames > 0, cancelled && loudest(system) > 0) << "silence costs nothing";
    if (!sound) {
        EXPECT_TRUE(std::holds_alternative<SystemAudio::NoSound>(SystemAudioCapture::forRecorder(mixed)));
    }
}

std::string tracksName(const ::testing::TestParamInfo<Tracks>& tracks) { return tracks.param.name; }

std::string quiet(std::size_t loudAt, float loud) {
    std::vector<float> samples(40000, 0.00005f);
    samples[123] = -0.00009f;
    samples[loudAt] = loud;
    return floats(samples);
}

INSTANTIATE_TEST_SUITE_P(Tracks, MixdownTracksTest, ::testing::Values(
    Tracks{"PaddedMic", ramp(48000, 0.5f), ramp(16000, -0.25f)},
    Tracks{"NoSystemTrackAndAShortLastBlock", std::nullopt, ramp(20000, 0.3f)},
    Tracks{"ClampedAndTrailingBytes", floats({1.7f, -3.0f, 0.5f}) + "\x01\x02", floats({0.25f, -0.75f}) + "\x7f\x7f"},
    Tracks{"NoTracks", std::nullopt, std::nullopt},
    Tracks{"LessThanOneFrame", std::string("abc"), std::string()},
    Tracks{"Silent", quiet(5000, 0.00005f), floats(std::vector<float>(100, -0.00005f))},
    Tracks{"AtTheThresholdIsSound", quiet(5000, 0.0001f), std::nullopt},
    Tracks{"SystemSilentAWhile", ramp(20000, 0) + ramp(20000, 0.5f) + ramp(30000, 0) + ramp(900, -0.5f), ramp(75000, 0.25f)},
    Tracks{"SystemSilentThroughout", ramp(40000, 0), ramp(40000, 0.25f)},
    Tracks{"EchoCancellationOff", ramp(40000, 0.5f), ramp(40000, 0.25f), "false"}),
    tracksName);

TEST_F(SystemAudioMixdownTest, FailuresKeepTheRawTracksAndALaterCallStartsOver) {
    writeFile(dir() / "system.f32", ramp(40000, 0.5f));
    writeFile(dir() / "mic.f32", ramp(40000, 0.5f));
    writers.createFailure = "作れません";
    EXPECT_EQ(describe(finalize()), "作れません");
    EXPECT_EQ(names(), (std::vector<std::string>{"mic.f32", "system.f32"}));

    writers.createFailure.reset();
    writers.failWriteAt = 2;
    const auto failed = finalize();
    EXPECT_EQ(describe(failed), "書き込めません");
    EXPECT_EQ(writers.blocks.size(), 2u);  // nothing after the failed block
    EXPECT_EQ(names(), (std::vector<std::string>{"meeting.partial.m4a", "mic.f32", "system.f32"}));
    const auto forRecorder = SystemAudioCapture::forRecorder(failed);
    ASSERT_TRUE(std::holds_alternative<RecordingFailure>(forRecorder));
    EXPECT_EQ(std::get<RecordingFailure>(forRecorder).description(), "書き込めません");

    writers.failWriteAt.reset();
    EXPECT_EQ(describe(finalize()), "meeting.m4a");
    EXPECT_EQ(writers.blocks.size(), 3u);
    EXPECT_EQ(names(), std::vector<std::string>{"meeting.m4a"});

    // Once finished, the file is answered without reading anything.
    writeFile(dir() / "system.f32", ramp(16000, 0.5f));
    EXPECT_EQ(describe(finalize()), "meeting.m4a");
    EXPECT_EQ(writers.created.size(), 3u);
    EXPECT_TRUE(fs::exists(dir() / "system.f32"));
}

TEST_F(SystemAudioMixdownTest, ConcurrentCallsRunOneAfterTheOther) {
    writeFile(dir() / "system.f32", ramp(32000, 0.5f));
    writers.holdWrites();
    SystemAudioCapture::Mixed first = CaptureError::empty();
    std::thread one([&] { first = finalize(); });
    ASSERT_TRUE(writers.waitUntilHeld(std::chrono::seconds(10)));
    // In the middle of its encode the first holds the process's one lock...
    const bool free = SystemAudioCapture::mixdownLock().try_lock();
    if (free) SystemAudioCapture::mixdownLock().unlock();
    EXPECT_FALSE(free);

    // ...so these wait for it: the same directory, which then finds the first one's file, and another.
    SystemAudioCapture::Mixed second = CaptureError::empty();
    std::thread two([&] { second = finalize(); });
    SystemAudioCapture::Mixed other = CaptureError::empty();
    writeFile(temp.path() / "other" / "mic.f32", ramp(100, 0.5f));
    std::thread three([&] { other = SystemAudioCapture::finalize(temp.path() / "other", writers); });
    writers.open();
    one.join();
    two.join();
    three.join();
    EXPECT_EQ(describe(first), "meeting.m4a");
    EXPECT_EQ(describe(second), "meeting.m4a");
    EXPECT_EQ(std::get<fs::path>(other), temp.path() / "other" / "meeting.m4a");
    EXPECT_EQ(writers.created.size(), 2u);
}

}  // namespace
}  // namespace orvan
