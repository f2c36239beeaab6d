// The microphone adapters against the private sound server of tools/test-env.sh.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "linux/ffmpeg/AacPacketJoin.h"
#include "linux/ffmpeg/FfmpegAudioJoiner.h"
#include "linux/pulse/PulseRecordPermission.h"
#include "linux/pulse/PulseSegmentRecorder.h"
#include "tests/sound/PrivateSoundServer.h"
#include "tests/sound/SoundServer.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace orvan::testing;

constexpr int kRate = 16000;
constexpr std::size_t kWindow = 400;  // 11 periods of 440 Hz

bool askPermission(PulseRecordPermission& permission) {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<bool> answer;
    permission.request([&](bool granted) {
        std::lock_guard lock(mutex);
        answer = granted;
        answered.notify_all();
    });
    std::unique_lock lock(mutex);
    answered.wait_for(lock, 10s, [&] { return answer.has_value(); });
    return answer.value_or(false);
}

// The test microphone (a null output's monitor) starts delivering up to two seconds after a stream is
// ready; a real one does at once. Waits until `recorder` has recorded `frames` more samples.
bool waitForRecorded(const PulseSegmentRecorder& recorder, std::int64_t frames, std::chrono::milliseconds timeout = 8s) {
    const std::int64_t target = recorder.framesRecorded() + frames;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (recorder.framesRecorded() < target) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class PulseSegmentRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SoundServer::available()) << "no sound server: run the tests through tools/test-env.sh";
        ASSERT_EQ(SoundServer::defaultSource(), "mic");
    }

    std::unique_ptr<SegmentRecording> segment(PulseSegmentRecorder& recorder, const std::string& name) {
        auto created = recorder.create(dir.path() / name, SegmentSettings{});
        if (auto* error = std::get_if<SystemError>(&created)) {
            ADD_FAILURE() << error->description;
            return nullptr;
        }
        return std::move(std::get<std::unique_ptr<SegmentRecording>>(created));
    }

    DecodedAudio decoded(const std::string& name) {
        std::string error;
        auto audio = decodeAudio(dir.path() / name, &error);
        EXPECT_TRUE(audio) << name << ": " << error;
        return audio.value_or(DecodedAudio{});
    }

    TempDirectory dir{"orvan-pulse"};
};

TEST_F(PulseSegmentRecorderTest, PermissionNeedsTheServer) {
    PulseRecordPermission permission;
    EXPECT_TRUE(askPermission(permission));

    // No server at all.
    const char* previous = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", ("unix:" + (dir.path() / "no-server").string()).c_str(), 1);
    const bool withoutServer = askPermission(permission);
    if (previous) {
        setenv("PULSE_SERVER", previous, 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
    EXPECT_FALSE(withoutServer);
    EXPECT_TRUE(askPermission(permission));
}

TEST_F(PulseSegmentRecorderTest, AMicrophoneSuspendedForBeingIdleWakesForASegment) {
    SoundServer::Tone tone(440);
    // The server suspends the unused microphone a second after its last stream.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (SoundServer::run("pactl list short sources | awk '$2 == \"mic\" {print $NF}'") != "SUSPENDED") {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the microphone was never suspended";
        std::this_thread::sleep_for(50ms);
    }
    PulseSegmentRecorder recorder;
    ASSERT_EQ(recorder.activate(), std::nullopt);
    auto recording = segment(recorder, "segment-001.m4a");
    ASSERT_TRUE(recording);
    ASSERT_TRUE(recording->record());
    EXPECT_TRUE(waitForRecorded(recorder, kRate / 4));
    recording->stop();
}

TEST_F(PulseSegmentRecorderTest, SegmentsHoldWhatTheMicrophoneHearsAndARotationLosesNoSampleAndJoinsByPackets) {
    SoundServer::Tone tone(440);
    PulseSegmentRecorder recorder;
    ASSERT_EQ(recorder.configureForSpokenRecording(), std::nullopt);
    ASSERT_EQ(recorder.activate(), std::nullopt);
    auto first = segment(recorder, "segment-001.m4a");
    ASSERT_TRUE(first && first->record());
    ASSERT_TRUE(waitForRecorded(recorder, kRate));
    first->handOver();
    // Whatever the queue does between two segments takes a moment; the stream waits for it.
    std::this_thread::sleep_for(100ms);
    auto second = segment(recorder, "segment-002.m4a");
    ASSERT_TRUE(second && second->record());
    ASSERT_TRUE(waitForRecorded(recorder, kRate));
    second->stop();
    ASSERT_EQ(recorder.deactivate(), std::nullopt);

    FfmpegAudioJoiner joiner;
    std::vector<AudioJoiner::Piece> pieces;
    for (const char* name : {"segment-001.m4a", "segment-002.m4a"}) {
        const auto duration = joiner.audioDuration(dir.path() / name);
        ASSERT_TRUE(duration) << name;
        pieces.push_back({dir.path() / name, *duration});
    }
    // A rotation cuts on a whole encoder frame, so the segments join by their packets, without encoding.
    EXPECT_EQ(pieces[0].duration.value % 1024, 0);
    const auto refusal = AacPacketJoin::join(pieces, dir.path() / "meeting.m4a", kRate);
    ASSERT_FALSE(refusal) << *refusal;
    const auto audio = decoded("meeting.m4a");
    EXPECT_EQ(static_cast<std::int64_t>(audio.samples.size()), recorder.framesRecorded()) << "every sample, once";
    EXPECT_LT(toneShare(audio.samples, 4000, 8000, 880, kRate), 0.05);
    const auto join = static_cast<std::size_t>(pieces[0].duration.value);
    const double shift = toneShiftAt(audio.samples, join, 440, kRate, 4000, 800);
    std::printf("rotation at %.3f s: the tone is shifted by %.3f samples\n", static_cast<double>(join) / kRate, shift);
    EXPECT_NEAR(shift, 0.0, 0.5);
    const auto levels = toneLevels(audio.samples, 440, kRate, kWindow, 4000);
    EXPECT_GT(levels.smallestShare, 0.9);
    EXPECT_GT(levels.smallestRms, 0.05);
}

// The interruptions a recorder reports, as they come from the sound server's thread.
class InterruptionLog {
public:
    void operator()(const AudioInterruption& interruption) {
        std::lock_guard lock(mutex_);
        types_.push_back(interruption.type.value_or(99));
        changed_.notify_all();
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return types_.size() >= count; });
    }
    std::vector<std::uint64_t> types() {
        std::lock_guard lock(mutex_);
        return types_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint64_t> types_;
};

// Records a first segment that has heard something, with interruptions going to `log`.
std::unique_ptr<SegmentRecording> recordObserved(PulseSegmentRecorder& recorder, const std::shared_ptr<InterruptionLog>& log,
                                                 const fs::path& dir) {
    recorder.observe([log](const AudioInterruption& interruption) { (*log)(interruption); });
    if (recorder.activate()) return nullptr;
    auto created = recorder.create(dir / "segment-001.m4a", SegmentSettings{});
    auto* recording = std::get_if<std::unique_ptr<SegmentRecording>>(&created);
    if (recording == nullptr || !(*recording)->record() || !waitForRecorded(recorder, kRate / 4)) return nullptr;
    return std::move(*recording);
}

TEST_F(PulseSegmentRecorderTest, AMicrophoneSuspendedOrGoneBeginsAnInterruptionAndItsReturnEndsIt) {
    SoundServer::Tone tone(440);
    auto log = std::make_shared<InterruptionLog>();
    PulseSegmentRecorder recorder;
    auto recording = recordObserved(recorder, log, dir.path());
    ASSERT_TRUE(recording);
    using Types = std::vector<std::uint64_t>;
    constexpr auto kBegan = AudioInterruption::kBegan;
    constexpr auto kEnded = AudioInterruption::kEnded;

    struct Suspension {
        Suspension() { SoundServer::run("pactl suspend-source mic 1"); }
        ~Suspension() { end(); }
        void end() { SoundServer::run("pactl suspend-source mic 0"); }
    } suspension;
    ASSERT_TRUE(log->waitFor(1));
    EXPECT_EQ(log->types(), Types{kBegan});
    recording->stop();
    // Still suspended: no end yet, and no new segment can record.
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(log->types().size(), 1u);
    auto refused = segment(recorder, "segment-002.m4a");
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->record());
    refused->stop();

    suspension.end();
    ASSERT_TRUE(log->waitFor(2));
    EXPECT_EQ(log->types(), (Types{kBegan, kEnded}));
    auto next = segment(recorder, "segment-003.m4a");
    ASSERT_TRUE(next && next->record());
    ASSERT_TRUE(waitForRecorded(recorder, kRate / 2));

    // The remapped "mic" is unplugged: its module goes, and a monitor becomes the default source
    // (named first: the test server has a microphone more, which would become the default).
    const std::string module = SoundServer::run("pactl list short modules | awk '/source_name=mic/ {print $1}'");
    ASSERT_FALSE(module.empty());
    SoundServer::run("pactl set-default-source micsink.monitor");
    SoundServer::run("pactl unload-module " + module);
    const bool began = log->waitFor(3);
    next->stop();
    std::this_thread::sleep_for(800ms);
    const auto whileAway = log->types();

    // Plugged in again.
    SoundServer::run("pactl load-module module-remap-source source_name=mic master=micsink.monitor master_channel_map=mono channel_map=mono >/dev/null");
    SoundServer::run("pactl set-default-source mic");
    const bool ended = log->waitFor(4);
    EXPECT_EQ(recorder.deactivate(), std::nullopt);

    EXPECT_TRUE(began);
    EXPECT_EQ(whileAway, (Types{kBegan, kEnded, kBegan}));
    EXPECT_TRUE(ended);
    EXPECT_EQ(log->types(), (Types{kBegan, kEnded, kBegan, kEnded}));
    // What was recorded before each stays readable.
    EXPECT_GT(decoded("segment-001.m4a").seconds(), 0.1);
    EXPECT_GT(toneShare(decoded("segment-003.m4a").samples, 2000, 4000, 440, kRate), 0.9);
}

TEST_F(PulseSegmentRecorderTest, TheSoundServerComingBackEndsTheInterruptionOfItsGoing) {
    PrivateSoundServer server(dir.path() / "server", {"module-null-source source_name=mic"});
    server.use();
    auto log = std::make_shared<InterruptionLog>();
    PulseSegmentRecorder recorder;
    auto recording = recordObserved(recorder, log, dir.path());
    ASSERT_TRUE(recording);

    server.kill();
    ASSERT_TRUE(log->waitFor(1));
    recording->stop();
    server.start();
    ASSERT_TRUE(log->waitFor(2, 10s));
    EXPECT_EQ(log->types(), (std::vector<std::uint64_t>{AudioInterruption::kBegan, AudioInterruption::kEnded}));
    // As the recorder does at the end of an interruption: the session again, then a segment.
    ASSERT_EQ(recorder.activate(), std::nullopt);
    auto next = segment(recorder, "segment-002.m4a");
    ASSERT_TRUE(next && next->record());
    EXPECT_TRUE(waitForRecorded(recorder, kRate / 4));
    next->stop();
    EXPECT_EQ(recorder.deactivate(), std::nullopt);
}

}  // namespace
}  // namespace orvan
