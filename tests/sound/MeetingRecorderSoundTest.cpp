// The whole recorder on the private sound server and FFmpeg: a recording whose process is killed,
// one on a computer without a microphone whose sound server goes away, and one whose microphone is
// muted and whose disk fills.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <any>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "recording/MeetingRecorder.h"
#include "tests/sound/PrivateSoundServer.h"
#include "tests/sound/RealRecorder.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/sound/SoundServer.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/PrivateTree.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace orvan::testing;

constexpr int kRate = 16000;

// Runs the main loop until `done` holds, at most `limit`.
bool within(FakeMainLoop& loop, std::chrono::milliseconds limit, const std::function<bool()>& done) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(2ms)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        loop.runUntilIdle();
    }
    return true;
}

template <typename Result>
Result await(FakeMainLoop& loop, const std::function<void(std::function<void(Result)>)>& command) {
    std::optional<Result> result;
    command([&](Result r) { result = std::move(r); });
    EXPECT_TRUE(within(loop, 30s, [&] { return result.has_value(); })) << "no answer";
    return result.value_or(Result{});
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
        ::umask(022);  // the usual one: what the recorder writes must be private all the same
    }
    fs::path recordings() const { return home.path() / "recordings"; }

    TempDirectory home{"orvan-meeting"};
};

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
    EXPECT_EQ(notPrivate(recordings()), std::vector<std::string>{});

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
    EXPECT_EQ(notPrivate(recordings()), std::vector<std::string>{});
}

TEST_F(MeetingRecorderSoundTest, WithoutAMicrophoneTheSystemAudioIsRecordedAloneAndKeptWhenTheServerGoes) {
    // The only capture source is the output's monitor, which the server makes the default source.
    PrivateSoundServer server(home.path() / "server",
                              {"module-null-sink sink_name=out rate=48000 channels=2", "module-sine sink=out frequency=880"});
    server.use();
    RealRecorder real(recordings(), 300s, /*systemAudio=*/true);
    std::vector<std::string> posted;
    auto token = real.notifications->addObserver("officeCaptureFailed", [&](const Notification& notification) {
        posted.push_back(std::any_cast<std::string>(notification.object));
    });
    auto& loop = *real.mainLoop;
    const auto started = await<std::optional<RecordingFailure>>(loop, [&](auto done) { real.recorder->start(done); });
    server.unuse();
    ASSERT_FALSE(started) << started->description();
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(notPrivate(recordings()), std::vector<std::string>{});

    // The sound server goes away: the recording is reported as failed, and what came before is kept.
    server.kill();
    within(loop, 5s, [&] { return !posted.empty(); });
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_FALSE(posted[0].empty());
    const auto stopped = await<std::variant<std::string, RecordingFailure>>(loop, [&](auto done) { real.recorder->stop(done); });
    ASSERT_TRUE(std::holds_alternative<std::string>(stopped)) << std::get<RecordingFailure>(stopped).description();
    const auto system = decodeAudio(std::get<std::string>(stopped), nullptr, 0);
    const auto mic = decodeAudio(std::get<std::string>(stopped), nullptr, 1);
    ASSERT_TRUE(system && mic);
    EXPECT_GT(system->seconds(), 1.0);
    const std::size_t last = system->samples.size() - kRate / 2 - 800;
    EXPECT_GT(toneShare(system->samples, last, kRate / 4, 880, kRate), 0.9);
    EXPECT_LT(rms(mic->samples, 0, mic->samples.size()), 0.001);
}

// A file system full after `bytes`: a tmpfs that small where this process may mount one, else the
// process's file size limit (the same writes fail, as "File too large"). `grow` makes room again.
struct SmallDisk {
    SmallDisk(const fs::path& at, std::size_t bytes)
        : dir(at), mounted((fs::create_directories(at), ::mount("tmpfs", at.c_str(), "tmpfs", 0,
                                                                 ("size=" + std::to_string(bytes)).c_str()) == 0)) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &unlimited);
        const rlimit small{bytes / 2, unlimited.rlim_max};
        if (!mounted) ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~SmallDisk() {
        grow();
        if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
    }
    void grow() { mounted ? ::mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT, "size=64m") : ::setrlimit(RLIMIT_FSIZE, &unlimited); }
    fs::path dir;
    bool mounted;
    rlimit unlimited{};
};

TEST_F(MeetingRecorderSoundTest, AMutedMicrophoneIsToldAtOnceAndAFullDiskEndsTheWritingKeepingWhatWasWritten) {
    SoundServer::Tone tone(440);
    auto log = CapturingLogSink::install();
    SmallDisk disk(recordings(), 2 << 20);  // about sixteen seconds of two raw tracks
    RealRecorder real(recordings(), 300s, /*systemAudio=*/true);
    auto& loop = *real.mainLoop;
    const auto started = await<std::optional<RecordingFailure>>(loop, [&](auto done) { real.recorder->start(done); });
    ASSERT_FALSE(started) << started->description();
    EXPECT_TRUE(within(loop, 5s, [&] { return real.signals->takePeak(RecordingSignals::Input::microphone) > 0.01f; }))
        << "the meter does not hear the tone";
    const auto silent = [&] { return !real.health.empty() && real.health.back().microphoneSilent; };
    SoundServer::run("pactl set-source-mute mic 1");
    EXPECT_TRUE(within(loop, 3s, silent)) << "no warning within 3 s of the mute";
    SoundServer::run("pactl set-source-mute mic 0");
    EXPECT_TRUE(within(loop, 5s, [&] { return !silent(); })) << "the warning stays after the unmute";

    ASSERT_TRUE(within(loop, 30s, [&] { return !real.health.empty() && real.health.back().writeFailure; }));
    EXPECT_EQ(real.health.front().diskLow, disk.mounted) << "a small disk is low from the start";
    const fs::path session = *fs::directory_iterator(recordings());
    const auto sizes = [&] { return fs::file_size(session / "system.f32") + fs::file_size(session / "mic.f32"); };
    const auto written = sizes();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(sizes(), written) << "written on after the failure";
    const auto lines = log->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& line) { return line.starts_with("RawTrack write failed: "); }), 1);
    const double micWritten = static_cast<double>(fs::file_size(session / "mic.f32")) / (4 * kRate);
    disk.grow();
    const auto stopped = await<std::variant<std::string, RecordingFailure>>(loop, [&](auto done) { real.recorder->stop(done); });
    setLogSink(nullptr);
    ASSERT_TRUE(std::holds_alternative<std::string>(stopped)) << std::get<RecordingFailure>(stopped).description();
    const auto mic = decodeAudio(std::get<std::string>(stopped), nullptr, 1);
    ASSERT_TRUE(mic);
    EXPECT_GT(micWritten, 5.0);
    EXPECT_GE(mic->seconds(), micWritten - 0.05);
    // Heard up to the last second written.
    EXPECT_GT(rms(mic->samples, static_cast<std::size_t>(micWritten * kRate) - kRate, kRate * 3 / 4), 0.2);
}

}  // namespace
}  // namespace orvan
