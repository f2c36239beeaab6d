// The whole recorder on the private sound server and FFmpeg: rotations, joining, and a recording
// whose process is killed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "linux/ffmpeg/FfmpegSegmentWriter.h"
#include "recording/MeetingRecorder.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeRecordingPorts.h"
#include "tests/sound/PrivateSoundServer.h"
#include "tests/sound/RealRecorder.h"
#include "tests/sound/SoundServer.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace orvan::testing;

constexpr int kRate = 16000;

template <typename Result>
Result await(FakeMainLoop& loop, const std::function<void(std::function<void(Result)>)>& command) {
    std::optional<Result> result;
    command([&](Result r) { result = std::move(r); });
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!result && std::chrono::steady_clock::now() < deadline) {
        loop.runUntilIdle();
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(result.has_value()) << "no answer";
    return result.value_or(Result{});
}

bool waitForRecorded(const PulseSegmentRecorder& microphone, std::int64_t frames) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (microphone.framesRecorded() < frames) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The tone's phase, checked every quarter second: a sample lost or doubled anywhere shifts it.
void expectUnbrokenTone(const std::vector<float>& samples) {
    double largest = 0;
    std::size_t where = 0;
    for (std::size_t at = 8000; at + 8000 < samples.size(); at += 4000) {
        const double shift = std::abs(toneShiftAt(samples, at, 440, kRate, 2000, 400));
        if (shift > largest) {
            largest = shift;
            where = at;
        }
    }
    std::printf("largest shift of the tone: %.3f samples at %.3f s\n", largest, static_cast<double>(where) / kRate);
    EXPECT_LT(largest, 0.5);
    const auto levels = toneLevels(samples, 440, kRate, 400, 1200);
    EXPECT_GT(levels.smallestShare, 0.9) << "at " << levels.smallestShareAt;
    EXPECT_GT(levels.smallestRms, 0.05);
}

class MeetingRecorderSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SoundServer::available()) << "no sound server: run the tests through tools/test-env.sh";
        ASSERT_EQ(SoundServer::defaultSource(), "mic");
    }
    fs::path recordings() const { return home.path() / "recordings"; }

    TempDirectory home{"orvan-meeting"};
};

TEST_F(MeetingRecorderSoundTest, ARecordingWithTwoRotationsJoinsIntoTheUnbrokenTone) {
    SoundServer::Tone tone(440);
    RealRecorder real(recordings(), 1500ms);
    auto& loop = *real.mainLoop;
    const auto started = await<std::optional<RecordingFailure>>(loop, [&](auto done) { real.recorder->start(done); });
    ASSERT_FALSE(started) << started->description();
    ASSERT_TRUE(waitForRecorded(*real.microphone, kRate / 2));
    // Past the rotations at 1.5 s and 3 s from the start.
    std::this_thread::sleep_for(3200ms);
    const auto dirs = std::vector<fs::directory_entry>(fs::directory_iterator(recordings()), {});
    ASSERT_EQ(dirs.size(), 1u);
    const auto segments = MeetingRecorder::listSegments(dirs[0].path());
    ASSERT_GE(segments.size(), 3u);
    EXPECT_EQ(segments[0].filename(), "segment-001.m4a");
    EXPECT_EQ(segments[2].filename(), "segment-003.m4a");

    const auto stopped = await<std::variant<std::string, RecordingFailure>>(loop, [&](auto done) { real.recorder->stop(done); });
    ASSERT_TRUE(std::holds_alternative<std::string>(stopped)) << std::get<RecordingFailure>(stopped).description();
    const fs::path finished = std::get<std::string>(stopped);
    EXPECT_EQ(finished, dirs[0].path() / "meeting.m4a");
    EXPECT_TRUE(MeetingRecorder::listSegments(dirs[0].path()).empty());
    EXPECT_FALSE(real.recorder->isRecording());

    const auto audio = decodeAudio(finished);
    ASSERT_TRUE(audio);
    // Every recorded sample, each once: the segments were handed the stream without a break.
    EXPECT_EQ(static_cast<std::int64_t>(audio->samples.size()), real.microphone->framesRecorded());
    EXPECT_GT(audio->seconds(), 3.5);
    expectUnbrokenTone(audio->samples);
}

TEST_F(MeetingRecorderSoundTest, AKilledRecordingComesBackThroughPendingLosingAboutASecond) {
    SoundServer::Tone tone(440);
    fs::create_directories(recordings());
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        execl(ORVAN_RECORDER_PROBE, ORVAN_RECORDER_PROBE, recordings().c_str(), "2000", nullptr);
        _exit(127);
    }
    close(output[1]);
    FILE* lines = fdopen(output[0], "r");
    // Kill it in the middle of its second segment, 3.5 s into what it has recorded.
    long long recorded = 0;
    char line[128];
    while (recorded < 3 * kRate + kRate / 2 && fgets(line, sizeof line, lines) != nullptr) {
        std::sscanf(line, "recorded %lld", &recorded);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    fclose(lines);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the probe ended by itself: " << status;
    ASSERT_GE(recorded, 3 * kRate) << "the probe did not record";

    // The next start of the shell finds it.
    RealRecorder next(recordings());
    const auto found = await<std::variant<std::optional<std::string>, RecordingFailure>>(
        *next.mainLoop, [&](auto done) { next.recorder->pending(done); });
    ASSERT_TRUE(std::holds_alternative<std::optional<std::string>>(found))
        << std::get<RecordingFailure>(found).description();
    const auto path = std::get<std::optional<std::string>>(found);
    ASSERT_TRUE(path.has_value());
    const auto audio = decodeAudio(*path);
    ASSERT_TRUE(audio);
    const double lost = static_cast<double>(recorded) / kRate - audio->seconds();
    std::printf("killed after %.3f s recorded: %.3f s came back, %.3f s lost\n", static_cast<double>(recorded) / kRate,
                audio->seconds(), lost);
    EXPECT_GE(lost, -0.05);
    EXPECT_LE(lost, 1.2);
    expectUnbrokenTone(audio->samples);
}

TEST_F(MeetingRecorderSoundTest, WithoutAnyOutputTheRecorderFallsBackToTheMicrophoneAfterTheAlert) {
    // A computer with a microphone and nothing to play through.
    PrivateSoundServer server(home.path() / "server", {"module-null-source source_name=only"});
    server.use();
    auto log = CapturingLogSink::install();
    auto alerts = std::make_shared<FakeAlertPresenter>();
    RealRecorder real(recordings(), 300s, /*systemAudio=*/true, alerts);
    auto& loop = *real.mainLoop;
    const auto started = await<std::optional<RecordingFailure>>(loop, [&](auto done) { real.recorder->start(done); });
    ASSERT_FALSE(started) << started->description();
    loop.runUntilIdle();
    EXPECT_EQ(alerts->shown, std::vector<std::string>{std::string(MeetingRecorder::kFallbackAlertTitle) + "|" +
                                                      MeetingRecorder::kFallbackAlertMessage});
    const auto lines = log->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "SystemAudioCapture unavailable, falling back to mic: 画面が見つかりません"),
              lines.end());
    ASSERT_TRUE(waitForRecorded(*real.microphone, kRate / 2));
    // Only the microphone session is left: the capture's directory went with its failure.
    const auto dirs = std::vector<fs::directory_entry>(fs::directory_iterator(recordings()), {});
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(MeetingRecorder::listSegments(dirs[0].path()).size(), 1u);
    EXPECT_FALSE(fs::exists(dirs[0].path() / "system.f32"));

    const auto stopped = await<std::variant<std::string, RecordingFailure>>(loop, [&](auto done) { real.recorder->stop(done); });
    ASSERT_TRUE(std::holds_alternative<std::string>(stopped)) << std::get<RecordingFailure>(stopped).description();
    EXPECT_EQ(fs::path(std::get<std::string>(stopped)), dirs[0].path() / "meeting.m4a");
}

TEST_F(MeetingRecorderSoundTest, WithoutAMicrophoneTheSystemAudioIsRecordedAlone) {
    // The only capture source is the output's monitor, which the server makes the default source.
    PrivateSoundServer server(home.path() / "server",
                              {"module-null-sink sink_name=out rate=48000 channels=2", "module-sine sink=out frequency=880"});
    server.use();
    RealRecorder real(recordings(), 300s, /*systemAudio=*/true);
    auto& loop = *real.mainLoop;
    const auto started = await<std::optional<RecordingFailure>>(loop, [&](auto done) { real.recorder->start(done); });
    ASSERT_FALSE(started) << started->description();
    std::this_thread::sleep_for(3500ms);
    const auto stopped = await<std::variant<std::string, RecordingFailure>>(loop, [&](auto done) { real.recorder->stop(done); });
    ASSERT_TRUE(std::holds_alternative<std::string>(stopped)) << std::get<RecordingFailure>(stopped).description();
    const auto system = decodeAudio(std::get<std::string>(stopped), nullptr, 0);
    const auto mic = decodeAudio(std::get<std::string>(stopped), nullptr, 1);
    ASSERT_TRUE(system && mic);
    const std::size_t last = system->samples.size() - kRate / 2 - 800;
    EXPECT_GT(toneShare(system->samples, last, kRate / 2, 880, kRate), 0.9);
    EXPECT_LT(rms(mic->samples, 0, mic->samples.size()), 0.001);
}

TEST_F(MeetingRecorderSoundTest, PendingAnswersFinishedRecordingsInOrderAndDiscardFollowsLinksAndDotDot) {
    RealRecorder real(recordings());
    auto& loop = *real.mainLoop;
    using Pending = std::variant<std::optional<std::string>, RecordingFailure>;
    using Done = std::optional<RecordingFailure>;
    auto pending = [&] { return await<Pending>(loop, [&](auto done) { real.recorder->pending(done); }); };
    auto discard = [&](const std::string& path) {
        return await<Done>(loop, [&](auto done) { real.recorder->discard(path, done); });
    };

    // Two finished recordings, and a third session left with segments only.
    const fs::path first = recordings() / "2f1e0d4c-0000-4000-8000-000000000000";
    const fs::path second = recordings() / "9a8b7c6d-0000-4000-8000-000000000000";
    const fs::path third = recordings() / "e0e0e0e0-0000-4000-8000-000000000000";
    for (const auto& [dir, seconds] : {std::pair{second, 2}, std::pair{first, 1}}) {
        fs::create_directories(dir);
        FfmpegAudioJoiner joiner;
        auto created = FfmpegSegmentWriter::create(dir / "segment-001.m4a", {});
        auto& writer = *std::get<std::unique_ptr<FfmpegSegmentWriter>>(created);
        const std::vector<float> steady(static_cast<std::size_t>(seconds * kRate), 0.25f);
        writer.append(steady.data(), steady.size());
        ASSERT_EQ(writer.finish(), std::nullopt);
        ASSERT_FALSE(joiner.join({{dir / "segment-001.m4a", MediaTime{seconds * kRate, kRate}}}, dir / "meeting.m4a"));
        fs::remove(dir / "segment-001.m4a");
    }
    fs::create_directories(third);
    fs::copy_file(second / "meeting.m4a", third / "segment-001.m4a");

    EXPECT_EQ(std::get<std::optional<std::string>>(pending()), (first / "meeting.m4a").string());
    fs::create_directory_symlink(first, home.path() / "link");
    EXPECT_EQ(discard((home.path() / "link" / "meeting.m4a").string()), std::nullopt);
    EXPECT_FALSE(fs::exists(first));

    EXPECT_EQ(std::get<std::optional<std::string>>(pending()), (second / "meeting.m4a").string());
    EXPECT_EQ(discard((first / ".." / second.filename() / "meeting.m4a").string()), std::nullopt);
    EXPECT_FALSE(fs::exists(second));
    const auto again = discard((second / "meeting.m4a").string());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->description(), "No such file or directory");

    // The left-over session is joined now, from its segment.
    const auto joined = std::get<std::optional<std::string>>(pending());
    EXPECT_EQ(joined, (third / "meeting.m4a").string());
    EXPECT_TRUE(MeetingRecorder::listSegments(third).empty());
    const auto audio = decodeAudio(third / "meeting.m4a");
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->samples.size(), static_cast<std::size_t>(2 * kRate));
    EXPECT_EQ(discard(*joined), std::nullopt);
    EXPECT_EQ(std::get<std::optional<std::string>>(pending()), std::nullopt);
    EXPECT_TRUE(fs::is_empty(recordings()));
}

}  // namespace
}  // namespace orvan
