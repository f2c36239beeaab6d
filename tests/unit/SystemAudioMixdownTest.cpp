// Mixing two raw tracks into the finished file, on a fake encoder that keeps what it is given.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recording/SystemAudioCapture.h"
#include "tests/fakes/FakeAudioFileWriters.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using orvan::testing::FakeWriters;
using orvan::testing::TempDirectory;

std::string floats(const std::vector<float>& samples) {
    std::string bytes(samples.size() * sizeof(float), '\0');
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

class SystemAudioMixdownTest : public ::testing::Test {
protected:
    fs::path dir() const { return temp.path() / "0c6f8f5e-0000-4000-8000-000000000000"; }
    void track(const char* name, const std::vector<float>& samples) { orvan::testing::writeFile(dir() / name, floats(samples)); }
    SystemAudioCapture::Mixed finalize() { return SystemAudioCapture::finalize(dir(), writers); }
    static std::string describe(const SystemAudioCapture::Mixed& mixed) {
        if (const auto* file = std::get_if<fs::path>(&mixed)) return file->string();
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
};

std::vector<float> ramp(std::size_t frames, float scale) {
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) samples[i] = scale * static_cast<float>((i % 100) + 1) / 100.0f;
    return samples;
}

// ---- What is written ------------------------------------------------------------------------------

TEST_F(SystemAudioMixdownTest, ShorterTrackIsPaddedWithSilenceInOneSecondBlocks) {
    const auto system = ramp(48000, 0.5f);
    const auto mic = ramp(16000, -0.25f);
    track("system.f32", system);
    track("mic.f32", mic);

    const auto mixed = finalize();
    ASSERT_EQ(describe(mixed), (dir() / "meeting.m4a").string());
    ASSERT_EQ(writers.created, std::vector<fs::path>{dir() / "meeting.partial.m4a"});
    ASSERT_EQ(writers.blocks.size(), 3u);
    for (const auto& block : writers.blocks) EXPECT_EQ(block.system.size(), 16000u);
    EXPECT_EQ(writers.channel(0), system);
    auto padded = mic;
    padded.resize(48000, 0.0f);
    EXPECT_EQ(writers.channel(1), padded);
    EXPECT_EQ(writers.closed, 1);
    // Only the finished file is left: the partial one was renamed, the raw tracks removed.
    EXPECT_EQ(names(), std::vector<std::string>{"meeting.m4a"});
}

TEST_F(SystemAudioMixdownTest, LastBlockIsShortAndAMissingSystemTrackIsSilence) {
    const auto mic = ramp(20000, 0.3f);
    track("mic.f32", mic);

    ASSERT_EQ(describe(finalize()), (dir() / "meeting.m4a").string());
    ASSERT_EQ(writers.blocks.size(), 2u);
    EXPECT_EQ(writers.blocks[0].mic.size(), 16000u);
    EXPECT_EQ(writers.blocks[1].mic.size(), 4000u);
    EXPECT_EQ(writers.channel(1), mic);
    EXPECT_EQ(writers.channel(0), std::vector<float>(20000, 0.0f));
}

TEST_F(SystemAudioMixdownTest, SamplesAreClampedAndATrailingPartialSampleIsIgnored) {
    std::string system = floats({1.7f, -3.0f, 0.5f});
    system += "\x01\x02";  // 14 bytes: three frames
    orvan::testing::writeFile(dir() / "system.f32", system);
    orvan::testing::writeFile(dir() / "mic.f32", floats({0.25f, -0.75f}) + "\x7f\x7f");  // 10 bytes: two frames

    ASSERT_EQ(describe(finalize()), (dir() / "meeting.m4a").string());
    ASSERT_EQ(writers.blocks.size(), 1u);
    EXPECT_EQ(writers.blocks[0].system, (std::vector<float>{1.0f, -1.0f, 0.5f}));
    EXPECT_EQ(writers.blocks[0].mic, (std::vector<float>{0.25f, -0.75f, 0.0f}));
}

// ---- Nothing to mix, and failures ------------------------------------------------------------------

TEST_F(SystemAudioMixdownTest, NoFramesAtAllIsEmptyAndNothingIsWritten) {
    fs::create_directories(dir());
    EXPECT_EQ(describe(finalize()), "音が1つも録れていません");
    orvan::testing::writeFile(dir() / "system.f32", "abc");  // less than one frame
    orvan::testing::writeFile(dir() / "mic.f32", "");
    EXPECT_EQ(describe(finalize()), "音が1つも録れていません");
    EXPECT_TRUE(writers.created.empty());
    EXPECT_EQ(names(), (std::vector<std::string>{"mic.f32", "system.f32"}));
}

TEST_F(SystemAudioMixdownTest, ASilentRecordingIsEmptyAndKeepsItsRawTracks) {
    std::vector<float> quiet(40000, 0.00005f);
    quiet[123] = -0.00009f;
    track("system.f32", quiet);
    track("mic.f32", std::vector<float>(100, -0.00005f));

    const auto mixed = finalize();
    ASSERT_TRUE(std::holds_alternative<CaptureError>(mixed)) << describe(mixed);
    EXPECT_EQ(std::get<CaptureError>(mixed), CaptureError::empty());
    EXPECT_EQ(writers.blocks.size(), 3u);  // the whole recording is looked at
    EXPECT_EQ(names(), (std::vector<std::string>{"mic.f32", "system.f32"}));
    EXPECT_TRUE(std::holds_alternative<SystemAudio::NoSound>(SystemAudioCapture::forRecorder(mixed)));

    // At the threshold itself there is sound.
    quiet[5000] = 0.0001f;
    track("system.f32", quiet);
    EXPECT_EQ(describe(finalize()), (dir() / "meeting.m4a").string());
}

TEST_F(SystemAudioMixdownTest, FailuresKeepTheRawTracksAndALaterCallStartsOver) {
    track("system.f32", ramp(40000, 0.5f));
    track("mic.f32", ramp(40000, 0.5f));
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
    writers.blocks.clear();
    EXPECT_EQ(describe(finalize()), (dir() / "meeting.m4a").string());
    EXPECT_EQ(writers.blocks.size(), 3u);
    EXPECT_EQ(names(), std::vector<std::string>{"meeting.m4a"});
}

// ---- Once finished ---------------------------------------------------------------------------------

TEST_F(SystemAudioMixdownTest, AFinishedFileIsAnsweredWithoutReadingAnything) {
    track("system.f32", ramp(16000, 0.5f));
    ASSERT_EQ(describe(finalize()), (dir() / "meeting.m4a").string());
    track("system.f32", ramp(16000, 0.5f));  // would be mixed again if it were looked at
    EXPECT_EQ(describe(finalize()), (dir() / "meeting.m4a").string());
    EXPECT_EQ(writers.created.size(), 1u);
    EXPECT_TRUE(fs::exists(dir() / "system.f32"));
}

TEST_F(SystemAudioMixdownTest, ConcurrentCallsRunOneAfterTheOther) {
    track("system.f32", ramp(32000, 0.5f));
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
    orvan::testing::writeFile(temp.path() / "other" / "mic.f32", floats(ramp(100, 0.5f)));
    std::thread three([&] { other = SystemAudioCapture::finalize(temp.path() / "other", writers); });
    writers.open();
    one.join();
    two.join();
    three.join();
    EXPECT_EQ(describe(first), (dir() / "meeting.m4a").string());
    EXPECT_EQ(describe(second), (dir() / "meeting.m4a").string());
    EXPECT_EQ(describe(other), (temp.path() / "other" / "meeting.m4a").string());
    EXPECT_EQ(writers.created.size(), 2u);
}

}  // namespace
}  // namespace orvan
