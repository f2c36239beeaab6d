// The recorder's state machine on fakes of every port, with the clock moved by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/unit/MeetingRecorderTestSupport.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using orvan::testing::FakeSegmentRecorder;
using orvan::testing::MeetingRecorderFixture;

constexpr const char* kPermissionText =
    "マイクの使用が許可されていません。設定アプリの「トモリバ」でマイクをオンにしてください。";

constexpr double kNever = -1;

// Seconds from `origin` at which each segment started and stopped (kNever: not yet, or not at all).
std::vector<std::pair<double, double>> spans(const std::vector<FakeSegmentRecorder::Segment>& segments, double origin) {
    std::vector<std::pair<double, double>> result;
    for (const auto& segment : segments) {
        result.emplace_back(segment.startedAt ? *segment.startedAt - origin : kNever,
                            segment.stoppedAt ? *segment.stoppedAt - origin : kNever);
    }
    return result;
}

class MeetingRecorderTest : public MeetingRecorderFixture {
protected:
    double now() const { return std::chrono::duration<double>(clock->now()).count(); }
};

// ---- Starting --------------------------------------------------------------------------------------

TEST_F(MeetingRecorderTest, StartRecordsTheFirstSegmentOfANewSessionDirectoryAndASecondStartFails) {
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_TRUE(recorder->isRecording());
    const auto dirs = sessionDirectories();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(dirs[0].filename(), "5e55a0d1-0000-4000-8000-000000000001");
    EXPECT_EQ(session->calls(), (std::vector<std::string>{"configure", "activate"}));
    ASSERT_EQ(segments->segments().size(), 1u);
    EXPECT_EQ(segments->segments()[0].file, dirs[0] / "segment-001.m4a");
    EXPECT_EQ(segments->recordingNow(), 1);

    runFor(10s);
    EXPECT_EQ(text(start()), "すでに録音中です");
    EXPECT_EQ(sessionDirectories().size(), 1u);
    EXPECT_EQ(segments->segments().size(), 1u);
    EXPECT_EQ(segments->recordingNow(), 1);
    // The refusal comes before the audio session is touched again.
    EXPECT_EQ(session->calls(), (std::vector<std::string>{"configure", "activate"}));
}

TEST_F(MeetingRecorderTest, RefusedPermissionFailsAndMakesNothing) {
    permission->granted = false;
    EXPECT_EQ(text(start()), kPermissionText);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(fs::exists(recordings()));
    EXPECT_TRUE(session->calls().empty());
    EXPECT_TRUE(segments->segments().empty());
}

TEST_F(MeetingRecorderTest, AFirstSegmentThatDoesNotStartRollsTheSessionBack) {
    segments->refuseToRecord = true;
    EXPECT_EQ(text(start()), "録音をまとめられませんでした: 録音を開始できませんでした");
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(sessionDirectories().empty());
    EXPECT_FALSE(session->active());
    EXPECT_EQ(session->calls(), (std::vector<std::string>{"configure", "activate", "deactivate"}));

    // A creation error is the system's own, and rolls back the same way.
    segments->refuseToRecord = false;
    segments->createFailure = SystemError{"No space left on device"};
    EXPECT_EQ(text(start()), "No space left on device");
    EXPECT_TRUE(sessionDirectories().empty());
    EXPECT_FALSE(recorder->isRecording());

    // Nothing is left in the way of the next start.
    segments->createFailure.reset();
    EXPECT_EQ(start(), std::nullopt);
}

TEST_F(MeetingRecorderTest, AudioSessionAndDirectoryFailuresAreThrownUnchanged) {
    session->activateFailure = SystemError{"Connection refused"};
    EXPECT_EQ(text(start()), "Connection refused");
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(fs::exists(recordings()));

    session->activateFailure.reset();
    // The recordings directory cannot be made where a file stands.
    orvan::testing::writeFile(recordings(), "in the way");
    const auto failure = start();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->description(), std::make_error_code(std::errc::not_a_directory).message());
    EXPECT_FALSE(recorder->isRecording());
    // The audio session stays active in that case.
    EXPECT_TRUE(session->active());
}

// ---- Rotation, pause and interruptions, as scripts -------------------------------------------------

// What happens after a start, one step each: "run <seconds>", "pause", "resume", "began" and
// "ended" (an interruption), "odd" (interruptions without a usable type), "refuse" and "accept"
// (segments that will not, or will again, record); then where each segment started and stopped,
// seconds from the start, and the audio session's calls.
struct Script {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::pair<double, double>> spans;
    std::vector<std::string> sessionCalls;
};

class RecorderScriptTest : public MeetingRecorderTest, public ::testing::WithParamInterface<Script> {
protected:
    void play(const std::string& step) {
        if (step.starts_with("run ")) runFor(std::chrono::seconds(std::stoi(step.substr(4))));
        else if (step == "pause") EXPECT_EQ(pause(), std::nullopt);
        else if (step == "resume") EXPECT_EQ(resume(), std::nullopt);
        else if (step == "refuse") segments->refuseToRecord = true;
        else if (step == "accept") segments->refuseToRecord = false;
        else {
            if (step == "began") interruptions->send(AudioInterruption::kBegan);
            if (step == "ended") interruptions->send(AudioInterruption::kEnded);
            if (step == "odd") {
                interruptions->send(std::nullopt);
                interruptions->send(7);
            }
            drainQueue();
        }
    }
};

TEST_P(RecorderScriptTest, SegmentsFollowTheScript) {
    const Script& script = GetParam();
    const double origin = now();
    ASSERT_EQ(start(), std::nullopt);
    for (const auto& step : script.steps) play(step);
    EXPECT_TRUE(recorder->isRecording());
    const auto made = segments->segments();
    EXPECT_EQ(spans(made, origin), script.spans);
    for (std::size_t i = 0; i < made.size(); ++i)
        EXPECT_EQ(made[i].file.filename(), "segment-00" + std::to_string(i + 1) + ".m4a") << "numbers are never reused";
    EXPECT_EQ(session->calls(), script.sessionCalls);
}

const std::vector<std::string> kStarted = {"configure", "activate"};
const std::vector<std::string> kStartedTwice = {"configure", "activate", "activate"};

INSTANTIATE_TEST_SUITE_P(Scripts, RecorderScriptTest, ::testing::Values(
    Script{"rotations every 300 s", {"run 660"}, {{0, 300}, {300, 600}, {600, kNever}}, kStarted},
    Script{"a pause keeps the grid fixed from the start", {"run 100", "pause", "run 100", "resume", "run 150"},
           {{0, 100}, {200, 300}, {300, kNever}}, kStartedTwice},
    Script{"no rotation while paused", {"run 250", "pause", "run 100", "resume", "run 260"},
           {{0, 250}, {350, 600}, {600, kNever}}, kStartedTwice},
    Script{"a segment failing at a rotation is started at the next", {"run 299", "refuse", "run 1", "accept", "run 300"},
           {{0, 300}, {kNever, kNever}, {600, kNever}}, kStarted},
    Script{"an interruption ends the segment and its end starts the next; a second end starts nothing",
           {"run 50", "began", "run 10", "ended", "ended"}, {{0, 50}, {60, kNever}},
           {"configure", "activate", "activate", "activate"}},  // each end activates the session
    Script{"interruptions without a usable type or while paused change nothing",
           {"odd", "run 5", "pause", "began", "ended"}, {{0, 5}}, kStarted}),
    [](const ::testing::TestParamInfo<Script>& script) { return "Script" + std::to_string(script.index); });

TEST_F(MeetingRecorderTest, ARotationHandsTheSegmentOverWhileAPauseEndsIt) {
    interruptions->send(AudioInterruption::kBegan);  // while idle: nothing
    drainQueue();
    EXPECT_TRUE(segments->segments().empty());
    ASSERT_EQ(start(), std::nullopt);
    runFor(300s);
    ASSERT_EQ(pause(), std::nullopt);
    // Only the rotation may let the next segment take what was captured in between.
    const auto made = segments->segments();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_TRUE(made[0].handedOver);
    EXPECT_FALSE(made[1].handedOver);
}

// ---- Pause, resume, stop ---------------------------------------------------------------------------

TEST_F(MeetingRecorderTest, PauseTwiceFailsAndResumeWhenNotPausedChangesNothing) {
    // Without a session every command but start says so.
    EXPECT_EQ(text(pause()), "録音していません");
    EXPECT_EQ(text(resume()), "録音していません");
    EXPECT_EQ(text(stop()), "error: 録音していません");
    EXPECT_TRUE(session->calls().empty());

    ASSERT_EQ(start(), std::nullopt);
    EXPECT_EQ(resume(), std::nullopt);
    EXPECT_EQ(segments->segments().size(), 1u);
    EXPECT_EQ(segments->recordingNow(), 1);

    EXPECT_EQ(pause(), std::nullopt);
    EXPECT_EQ(text(pause()), "録音していません");
    EXPECT_EQ(resume(), std::nullopt);
    EXPECT_EQ(resume(), std::nullopt);
    EXPECT_EQ(segments->segments().size(), 2u);
    EXPECT_EQ(segments->recordingNow(), 1);
}

TEST_F(MeetingRecorderTest, AResumeThatCannotActivateIsThrownAndLeavesTheSessionUnpaused) {
    ASSERT_EQ(start(), std::nullopt);
    runFor(30s);
    ASSERT_EQ(pause(), std::nullopt);
    session->activateFailure = SystemError{"Access denied"};
    EXPECT_EQ(text(resume()), "Access denied");
    EXPECT_EQ(segments->recordingNow(), 0);
    // Not paused any more, and without a recorder: a second resume has nothing to do.
    session->activateFailure.reset();
    EXPECT_EQ(resume(), std::nullopt);
    EXPECT_EQ(segments->recordingNow(), 0);
    EXPECT_EQ(text(pause()), "録音していません");

    // The stop still finishes what was recorded.
    const auto stopped = stop();
    EXPECT_TRUE(std::holds_alternative<std::string>(stopped)) << text(stopped);
}

TEST_F(MeetingRecorderTest, StopWhilePausedJoinsWhatWasRecordedAndDeactivates) {
    ASSERT_EQ(start(), std::nullopt);
    runFor(40s);
    ASSERT_EQ(pause(), std::nullopt);
    runFor(20s);
    ASSERT_EQ(resume(), std::nullopt);
    runFor(30s);
    const auto stopped = stop();
    ASSERT_TRUE(std::holds_alternative<std::string>(stopped)) << text(stopped);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(session->active());
    std::ifstream in(std::get<std::string>(stopped));
    const std::string joined((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(joined, "segment-001.m4a 40\nsegment-002.m4a 30\n");
    // The rotation timer went with the session.
    runFor(600s);
    EXPECT_EQ(segments->segments().size(), 2u);
}

TEST_F(MeetingRecorderTest, IsRecordingEndsBeforeTheJoinAndANewSessionMayStartMeanwhile) {
    ASSERT_EQ(start(), std::nullopt);
    runFor(5s);
    joiner->hold();
    std::optional<PathResult> stopped;
    recorder->stop([&](PathResult result) { stopped = std::move(result); });
    ASSERT_TRUE(joiner->waitUntilJoining(1));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_TRUE(recorder->isRecording());
    joiner->release();
    ASSERT_TRUE(settle([&] { return stopped.has_value(); }));
    EXPECT_TRUE(std::holds_alternative<std::string>(*stopped)) << text(*stopped);
    EXPECT_EQ(sessionDirectories().size(), 2u);
}

TEST_F(MeetingRecorderTest, AFailedJoinIsThrownAndTheSegmentsStayForLater) {
    ASSERT_EQ(start(), std::nullopt);
    runFor(5s);
    joiner->failure = AudioJoiner::Failure{AudioJoiner::Failure::Kind::failed, "Invalid data found when processing input"};
    EXPECT_EQ(text(stop()), "error: Invalid data found when processing input");
    EXPECT_FALSE(recorder->isRecording());
    const auto dirs = sessionDirectories();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(MeetingRecorder::listSegments(dirs[0]).size(), 1u);
    EXPECT_FALSE(fs::exists(dirs[0] / "meeting.m4a"));
    EXPECT_FALSE(fs::exists(dirs[0] / "meeting.partial.m4a"));
}

TEST_F(MeetingRecorderTest, ClosingForExitKeepsTheSegmentsUnjoinedForPending) {
    ASSERT_EQ(start(), std::nullopt);
    runFor(40s);
    recorder->closeForExit();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(segments->recordingNow(), 0) << "the segment is closed";
    const auto dirs = sessionDirectories();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(MeetingRecorder::listSegments(dirs[0]).size(), 1u);
    EXPECT_FALSE(fs::exists(dirs[0] / "meeting.m4a")) << "nothing is joined on the way out";
    const auto found = pending();
    EXPECT_EQ(text(found), (dirs[0] / "meeting.m4a").string());
}

// ---- System audio ----------------------------------------------------------------------------------

class SystemAudioRecorderTest : public MeetingRecorderTest {
protected:
    void SetUp() override {
        MeetingRecorderTest::SetUp();
        systemAudio->isSupported = true;
    }
    std::vector<std::string> captureCalls() { return systemAudio->capture->calls(); }
};

TEST_F(SystemAudioRecorderTest, TheCaptureRecordsAndTakesPauseResumeAndStop) {
    ASSERT_EQ(start(), std::nullopt);
    EXPECT_TRUE(recorder->isRecording());
    ASSERT_EQ(systemAudio->startedDirs.size(), 1u);
    EXPECT_EQ(sessionDirectories(), std::vector<fs::path>{systemAudio->startedDirs[0]});
    // The audio session is not configured for system-audio recording, and no segment is made.
    EXPECT_TRUE(session->calls().empty());
    EXPECT_TRUE(segments->segments().empty());

    EXPECT_EQ(pause(), std::nullopt);
    EXPECT_EQ(pause(), std::nullopt);  // the capture's own pause; the recorder's state does not change
    EXPECT_EQ(resume(), std::nullopt);
    EXPECT_EQ(text(start()), "すでに録音中です");
    EXPECT_EQ(systemAudio->startedDirs.size(), 1u);

    // Interruptions belong to microphone recording only.
    interruptions->send(AudioInterruption::kBegan);
    interruptions->send(AudioInterruption::kEnded);
    drainQueue();
    EXPECT_TRUE(session->calls().empty());
    EXPECT_TRUE(segments->segments().empty());

    std::optional<PathResult> first;
    recorder->stop([&](PathResult result) { first = std::move(result); });
    ASSERT_TRUE(settle([&] { return captureCalls().size() == 4; }));
    // While the capture finishes: still recording, a second stop fails, a start is refused, and
    // interruptions are ignored.
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(text(stop()), "error: 録音していません");
    EXPECT_EQ(text(start()), "すでに録音中です");
    interruptions->send(AudioInterruption::kEnded);
    drainQueue();
    EXPECT_TRUE(session->calls().empty());
    EXPECT_FALSE(first.has_value());

    const fs::path finished = systemAudio->startedDirs[0] / "meeting.m4a";
    systemAudio->capture->finishStop(finished);
    ASSERT_TRUE(settle([&] { return first.has_value(); }));
    EXPECT_EQ(text(*first), finished.string());
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(captureCalls(), (std::vector<std::string>{"pause", "pause", "resume", "stop"}));
}

TEST_F(SystemAudioRecorderTest, AFailedCaptureStopIsThrownAndStillReleasesTheSession) {
    ASSERT_EQ(start(), std::nullopt);
    std::optional<PathResult> stopped;
    recorder->stop([&](PathResult result) { stopped = std::move(result); });
    ASSERT_TRUE(settle([&] { return !captureCalls().empty(); }));
    systemAudio->capture->finishStop(RecordingFailure(SystemError{"音が1つも録れていません"}));
    ASSERT_TRUE(settle([&] { return stopped.has_value(); }));
    EXPECT_EQ(text(*stopped), "error: 音が1つも録れていません");
    EXPECT_FALSE(recorder->isRecording());
    // The directory stays for "pending".
    EXPECT_EQ(sessionDirectories().size(), 1u);
}

TEST_F(SystemAudioRecorderTest, ACaptureThatCannotStartFallsBackToTheMicrophoneInAFreshDirectory) {
    systemAudio->startFailure = RecordingFailure(SystemError{"画面が見つかりません"});
    EXPECT_EQ(start(), std::nullopt);
    ASSERT_EQ(systemAudio->startedDirs.size(), 1u);
    const fs::path failed = systemAudio->startedDirs[0];
    EXPECT_FALSE(fs::exists(failed));
    const auto dirs = sessionDirectories();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_NE(dirs[0], failed);
    EXPECT_EQ(segments->segments().size(), 1u);
    EXPECT_EQ(segments->segments()[0].file.parent_path(), dirs[0]);
    EXPECT_EQ(alerts->shown.size(), 1u);
    // From here on it is microphone recording: pause is the recorder's own.
    EXPECT_EQ(pause(), std::nullopt);
    EXPECT_TRUE(captureCalls().empty());
    EXPECT_EQ(text(pause()), "録音していません");
    // A second start is refused without trying the capture again.
    EXPECT_EQ(text(start()), "すでに録音中です");
    EXPECT_EQ(systemAudio->startedDirs.size(), 1u);
    EXPECT_EQ(alerts->shown.size(), 1u);
}

TEST_F(SystemAudioRecorderTest, AStopWhileTheCaptureStartsWaitsForItAndFinishesTheRecording) {
    systemAudio->holdStart = true;
    std::optional<Failure> started;
    recorder->start([&](Failure failure) { started = std::move(failure); });
    ASSERT_TRUE(settle([&] { return systemAudio->startHeld(); }));
    // Not yet microphone recording either: an interruption's end starts no segment in its directory.
    interruptions->send(AudioInterruption::kEnded);
    std::optional<PathResult> stopped;
    recorder->stop([&](PathResult result) { stopped = std::move(result); });
    drainQueue();
    EXPECT_FALSE(stopped.has_value());
    EXPECT_TRUE(segments->segments().empty());

    systemAudio->finishStart();
    ASSERT_TRUE(settle([&] { return started.has_value() && !captureCalls().empty(); }));
    EXPECT_EQ(*started, std::nullopt);
    const fs::path finished = systemAudio->startedDirs[0] / "meeting.m4a";
    systemAudio->capture->finishStop(finished);
    ASSERT_TRUE(settle([&] { return stopped.has_value(); }));
    EXPECT_EQ(text(*stopped), finished.string());
    EXPECT_EQ(captureCalls(), std::vector<std::string>{"stop"});
    EXPECT_FALSE(recorder->isRecording());
}

}  // namespace
}  // namespace orvan
