// The capture's timeline: buffers of both streams placed on one time line in two raw tracks, with
// synthetic buffers and a converter that only counts.
#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/SystemAudioCaptureFixture.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

using SystemAudioCaptureTest = SystemAudioCaptureFixture;

// ---- Positions on the timeline ---------------------------------------------------------------------

TEST_F(SystemAudioCaptureTest, BuffersWithoutSamplesDoNotFixTheOrigin) {
    // Nothing of these gives samples, so none of them fixes the origin.
    deliver(CaptureOutputType::screen, 50.0, 0.9f);
    deliver(CaptureOutputType::systemAudio, 60.0, 0.9f, 160, kMono16k, /*valid=*/false);
    deliver(CaptureOutputType::systemAudio, std::nullopt, 0.9f);
    deliver(CaptureOutputType::microphone, 70.0, 0.9f, 160, std::nullopt);
    deliver(CaptureOutputType::microphone, 80.0, 0.9f, 0);
    converters->failing = true;
    deliver(CaptureOutputType::microphone, 90.0, 0.9f);
    converters->failing = false;
    EXPECT_TRUE(system().empty());
    EXPECT_TRUE(mic().empty());

    deliver(CaptureOutputType::systemAudio, 100.0, 0.25f, 160);
    EXPECT_EQ(firstAt(system(), 0.25f), 0);
}

TEST_F(SystemAudioCaptureTest, ThirtySecondsOfBuffersStampedSampleBySampleLandOnConsecutiveFrames) {
    // As the sound server's streams stamp them: each stream's anchor plus its sample count. The
    // samples count up, so a sample lost (a zero) or written twice shows at once.
    constexpr std::size_t kBuffer = 800;
    const double anchors[] = {8123.456789, 8123.470123};  // system audio first: its anchor is the origin
    for (std::size_t first = 0; first < 30 * 16000; first += kBuffer) {
        for (int stream = 0; stream < 2; ++stream) {
            std::vector<float> samples(kBuffer);
            for (std::size_t i = 0; i < kBuffer; ++i) samples[i] = static_cast<float>(first + i + 1);
            deliver(stream == 0 ? CaptureOutputType::systemAudio : CaptureOutputType::microphone,
                    anchors[stream] + static_cast<double>(first) / 16000, samples);
        }
    }
    for (const auto& track : {system(), mic()}) {
        const auto start = static_cast<std::size_t>(firstAt(track, 1.0f));
        ASSERT_EQ(track.size() - start, 30u * 16000);
        std::size_t broken = 0;
        for (std::size_t i = start + 1; i < track.size(); ++i) broken += track[i] != track[i - 1] + 1.0f ? 1u : 0u;
        EXPECT_EQ(broken, 0u);
    }
}

TEST_F(SystemAudioCaptureTest, NothingIsWrittenFromFiveHoursOn) {
    deliver(CaptureOutputType::systemAudio, 0.0, 0.25f, 16);
    deliver(CaptureOutputType::systemAudio, 17999.999, 0.5f, 16);
    const auto lastFrame = static_cast<std::uintmax_t>(std::llround(17999.999 * 16000));
    EXPECT_EQ(fs::file_size(dir() / "system.f32"), (lastFrame + 16) * sizeof(float));
    deliver(CaptureOutputType::systemAudio, 18000.0, 0.75f, 16);
    deliver(CaptureOutputType::microphone, 18001.0, 0.75f, 16);
    EXPECT_EQ(fs::file_size(dir() / "system.f32"), (lastFrame + 16) * sizeof(float));
    EXPECT_EQ(fs::file_size(dir() / "mic.f32"), 0u);
}

// ---- Timelines: buffers and pauses, and where each value lands ------------------------------------

// One step of a timeline: a buffer of `frames` samples of `value` at `t` seconds on the streams' clock
// ('s': system audio, 'm': microphone), or 'p' pause, 'r' resume.
struct Step {
    char what;
    double t = 0;
    float value = 0;
    std::size_t frames = 160;
};
// Where a value first appears in a track ('s' or 'm'), in frames; -1: nowhere.
struct Landing {
    char track;
    float value;
    long frame;
};
struct Timeline {
    const char* name;
    std::vector<Step> steps;
    std::vector<Landing> landings;
};

void PrintTo(const Timeline& timeline, std::ostream* out) { *out << timeline.name; }

class CaptureTimelineTest : public SystemAudioCaptureTest, public ::testing::WithParamInterface<Timeline> {};

TEST_P(CaptureTimelineTest, ValuesLandWhereTheTimelineSays) {
    for (const Step& step : GetParam().steps) {
        if (step.what == 'p') capture->pause();
        else if (step.what == 'r') capture->resume();
        else deliver(step.what == 's' ? CaptureOutputType::systemAudio : CaptureOutputType::microphone, step.t, step.value, step.frames);
    }
    for (const Landing& landing : GetParam().landings)
        EXPECT_EQ(firstAt(landing.track == 's' ? system() : mic(), landing.value), landing.frame)
            << landing.track << " " << landing.value;
}

INSTANTIATE_TEST_SUITE_P(Timelines, CaptureTimelineTest, ::testing::Values(
    // The first buffer of either stream is time zero for both; a gap before a buffer is silence.
    Timeline{"origin", {{'s', 100.0, 0.25f}, {'m', 100.5, 0.5f}}, {{'s', 0.25f, 0}, {'m', 0.0f, 0}, {'m', 0.5f, 8000}}},
    // Earlier than the origin is written at zero; later data replaces earlier at the same place, and only that.
    Timeline{"before the origin, and replaced", {{'m', 10.0, 0.25f, 320}, {'s', 9.99, 0.5f}, {'m', 10.0, 0.75f}},
             {{'s', 0.5f, 0}, {'m', 0.75f, 0}, {'m', 0.25f, 160}}},
    // A pause is cut out of the timeline as measured on the streams' clock; twice is once; pauses add up.
    Timeline{"pauses", {{'s', 100.0, 0.25f}, {'s', 110.0, 0.25f}, {'p'}, {'p'}, {'m', 120.0, 0.5f}, {'m', 140.0, 0.5f},
                        {'r'}, {'r'}, {'m', 141.0, 0.75f}, {'p'}, {'s', 145.0, 0.5f}, {'r'}, {'s', 146.0, 0.875f}},
             {{'m', 0.5f, -1}, {'m', 0.75f, 11 * 16000}, {'s', 0.5f, -1}, {'s', 0.875f, 12 * 16000}}},
    Timeline{"a pause before any buffer cuts nothing", {{'p'}, {'r'}, {'s', 5.0, 0.25f}, {'s', 6.0, 0.5f}},
             {{'s', 0.5f, 16000}}}),
    [](const ::testing::TestParamInfo<Timeline>& timeline) { return "Timeline" + std::to_string(timeline.index); });

// ---- Pause and resume ------------------------------------------------------------------------------

TEST_F(SystemAudioCaptureTest, WhatTheStreamHasReadBeforeAPauseIsKeptAndWhatItReadsDuringThePauseIsNot) {
    // The stream still holds a buffer read before the pause; it only hands it over when asked.
    auto stream = std::make_shared<FakeStream>();
    std::vector<float> held(160, 0.5f);
    stream->onSettle = [&] {
        if (held.empty()) return;
        capture->queue().async([this, samples = std::exchange(held, {})] {
            CapturedBuffer buffer{.type = CaptureOutputType::microphone,
                                  .presentationTime = 101.0,
                                  .format = kMono16k,
                                  .samples = samples.data(),
                                  .frames = samples.size()};
            capture->handle(buffer);
        });
    };
    capture->attach(stream);
    deliver(CaptureOutputType::systemAudio, 100.0, 0.25f);
    capture->pause();
    EXPECT_EQ(stream->settles, 1);
    EXPECT_EQ(firstAt(mic(), 0.5f), 16000);
    deliver(CaptureOutputType::microphone, 105.0, 0.75f);
    capture->resume();
    deliver(CaptureOutputType::microphone, 106.0, 0.875f);
    EXPECT_EQ(firstAt(mic(), 0.75f), -1);
    // Paused from 101 to 105 on the stream's clock: 106 − 100 − 4.
    EXPECT_EQ(firstAt(mic(), 0.875f), 2 * 16000);
}

TEST_F(SystemAudioCaptureTest, ACaptureLetGoByWorkOnItsOwnQueueEndsWithoutWaitingForItself) {
    std::promise<void> streamEnded;
    auto stream = std::make_shared<FakeStream>();
    stream->onDestroyed = [&] { streamEnded.set_value(); };
    capture->attach(std::exchange(stream, nullptr));
    deliver(CaptureOutputType::systemAudio, 1.0, 0.25f);
    std::promise<void> released;
    SerialQueue& queue = capture->queue();
    // The last reference goes on the queue, as when the stream's last buffer outlives the recording.
    queue.async([held = std::exchange(capture, nullptr), &released]() mutable {
        held.reset();
        released.set_value();
    });
    EXPECT_EQ(released.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(streamEnded.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(system().size(), 160u);
}

// ---- Converters ------------------------------------------------------------------------------------

TEST_F(SystemAudioCaptureTest, EachStreamKeepsItsConverterUntilItsInputFormatChanges) {
    deliver(CaptureOutputType::systemAudio, 1.0, 0.25f, 480, kStereo48k);
    deliver(CaptureOutputType::microphone, 1.0, 0.5f, 160, kMono16k);
    deliver(CaptureOutputType::systemAudio, 1.01, 0.25f, 480, kStereo48k);
    deliver(CaptureOutputType::microphone, 1.01, 0.5f, 160, kMono16k);
    ASSERT_EQ(converters->made, (std::vector<CaptureFormat>{kStereo48k, kMono16k}));

    // The sound server moved the system audio to a device of another format: only its converter is replaced.
    deliver(CaptureOutputType::systemAudio, 1.02, 0.25f, 160, kMono16k);
    deliver(CaptureOutputType::microphone, 1.02, 0.5f, 160, kMono16k);
    ASSERT_EQ(converters->made, (std::vector<CaptureFormat>{kStereo48k, kMono16k, kMono16k}));
    std::vector<int> used;
    std::vector<std::size_t> capacities;
    for (const auto& call : converters->calls) {
        used.push_back(call.converter);
        capacities.push_back(call.capacity);
    }
    EXPECT_EQ(used, (std::vector<int>{1, 2, 1, 2, 3, 2}));
    // The exact resampled length plus 64 frames of headroom.
    EXPECT_EQ(capacities, (std::vector<std::size_t>{224, 224, 224, 224, 224, 224}));
    // 480 stereo frames at 48 kHz became 160 samples at 16 kHz, one after the other.
    EXPECT_EQ(system().size(), 160u * 2 + 160u);
}

// ---- The end -----------------------------------------------------------------------------------------

TEST_F(SystemAudioCaptureTest, AStreamStoppedByTheServerIsLoggedAndPosted) {
    std::vector<std::string> posted;
    auto token = notifications->addObserver("officeCaptureFailed", [&](const Notification& notification) {
        posted.push_back(std::any_cast<std::string>(notification.object));
    });
    capture->streamStopped("接続が切れました");
    mainLoop->runUntilIdle();
    EXPECT_EQ(posted, std::vector<std::string>{"接続が切れました"});
    // The capture goes on.
    deliver(CaptureOutputType::systemAudio, 1.0, 0.25f);
    EXPECT_EQ(system().size(), 160u);
}

TEST_F(SystemAudioCaptureTest, StopEndsTheStreamClosesTheTracksAndMixesThemDown) {
    auto stream = std::make_shared<FakeStream>();
    capture->attach(stream);
    deliver(CaptureOutputType::systemAudio, 1.0, 0.25f);
    const auto answer = stopAndWait(*capture);
    EXPECT_EQ(stream->stops, 1);
    ASSERT_TRUE(std::holds_alternative<fs::path>(answer)) << std::get<RecordingFailure>(answer).description();
    EXPECT_EQ(std::get<fs::path>(answer), dir() / "meeting.m4a");
    EXPECT_EQ(writers->created, std::vector<fs::path>{dir() / "meeting.partial.m4a"});
    EXPECT_FALSE(fs::exists(dir() / "system.f32"));
    // Buffers after the stop have no track to go to.
    deliver(CaptureOutputType::systemAudio, 2.0, 0.25f);
    EXPECT_FALSE(fs::exists(dir() / "system.f32"));
}

TEST_F(SystemAudioCaptureTest, ASilentCaptureStopsWithEmptyAndKeepsItsTracks) {
    deliver(CaptureOutputType::microphone, 1.0, 0.0f);
    const auto answer = stopAndWait(*capture);
    ASSERT_TRUE(std::holds_alternative<RecordingFailure>(answer));
    EXPECT_EQ(std::get<RecordingFailure>(answer).description(), "音が1つも録れていません");
    EXPECT_TRUE(fs::exists(dir() / "mic.f32"));
}

SystemAudioCapturePorts bare() {
    return SystemAudioCapturePorts{.applicationIdentifier = "x",
                                   .clock = std::make_shared<ManualClock>(),
                                   .converters = nullptr,
                                   .writers = nullptr,
                                   .notifications = nullptr};
}

TEST(SystemAudioCaptureTracks, TracksReplaceOldFilesAndAMissingDirectoryFailsTheStart) {
    TempDirectory temp{"orvan-capture"};
    orvan::testing::writeFile(temp.path() / "system.f32", "old samples");
    auto created = SystemAudioCapture::create(temp.path(), bare());
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<SystemAudioCapture>>(created));
    EXPECT_EQ(fs::file_size(temp.path() / "system.f32"), 0u);
    EXPECT_EQ(fs::file_size(temp.path() / "mic.f32"), 0u);

    auto missing = SystemAudioCapture::create(temp.path() / "gone", bare());
    ASSERT_TRUE(std::holds_alternative<SystemError>(missing));
    EXPECT_EQ(std::get<SystemError>(missing).description, "No such file or directory");
}

}  // namespace
}  // namespace orvan
