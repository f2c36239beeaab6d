// The recorder's state machine on scripted ports, with the clock moved by hand: each scenario is a
// script of commands and events, and the whole trace it leaves.
#include <gtest/gtest.h>

#include "tests/unit/RecorderScript.h"

namespace orvan {
namespace {

using orvan::testing::RecorderScript;
using orvan::testing::scriptName;

class MeetingRecorderTest : public orvan::testing::RecorderScriptRunner,
                            public ::testing::WithParamInterface<RecorderScript> {};

TEST_P(MeetingRecorderTest, LeavesTheTrace) { play(GetParam()); }

const char* const kStarted[] = {"configure", "activate", "rec s1/segment-001 @0", "start: ok"};

std::vector<std::string> started(std::vector<std::string> then) {
    then.insert(then.begin(), std::begin(kStarted), std::end(kStarted));
    return then;
}
std::vector<std::string> startedScript(std::vector<std::string> then) {
    then.insert(then.begin(), "start");
    return then;
}

INSTANTIATE_TEST_SUITE_P(Starting, MeetingRecorderTest, ::testing::Values(
    RecorderScript{"a start makes a session and its first segment; a second is refused before the session is touched",
        {"recording?", "start", "recording?", "run 10", "start", "ls"},
        {"idle", "configure", "activate", "rec s1/segment-001 @0", "start: ok", "recording", "start: すでに録音中です",
         "ls: s1/segment-001.m4a"}},
    RecorderScript{"a refused permission makes nothing", {"deny", "start", "recording?", "ls"},
        {"start: マイクの使用が許可されていません。設定アプリの「トモリバ」でマイクをオンにしてください。", "idle", "ls: -"}},
    RecorderScript{"a first segment that does not start, or cannot be made, rolls the session back",
        {"refuse", "start", "ls", "accept", "createFails No space left on device", "start", "ls", "createFails", "start"},
        {"configure", "activate", "deactivate", "start: 録音をまとめられませんでした: 録音を開始できませんでした", "ls: -",
         "configure", "activate", "deactivate", "start: No space left on device", "ls: -",
         "configure", "activate", "rec s3/segment-001 @0", "start: ok"}},
    RecorderScript{"audio session and directory failures are the system's own",
        {"activateFails Connection refused", "start", "activateOk", "file ~/recordings in the way", "start", "recording?"},
        {"configure", "activate: Connection refused", "start: Connection refused",
         "configure", "activate", "start: Not a directory", "idle"}}),
    scriptName);

// Rotations every 300 s on a grid fixed from the start, pauses and interruptions: only a rotation
// hands a segment over (the next one takes what was captured in between); numbers are never reused.
INSTANTIATE_TEST_SUITE_P(Segments, MeetingRecorderTest, ::testing::Values(
    RecorderScript{"rotations", startedScript({"run 660"}),
        started({"handover s1/segment-001 @300", "rec s1/segment-002 @300", "handover s1/segment-002 @600",
                 "rec s1/segment-003 @600"})},
    RecorderScript{"a pause keeps the grid", startedScript({"run 100", "pause", "run 100", "resume", "run 150"}),
        started({"stop s1/segment-001 @100", "pause: ok", "activate", "rec s1/segment-002 @200", "resume: ok",
                 "handover s1/segment-002 @300", "rec s1/segment-003 @300"})},
    RecorderScript{"no rotation while paused", startedScript({"run 250", "pause", "run 100", "resume", "run 260"}),
        started({"stop s1/segment-001 @250", "pause: ok", "activate", "rec s1/segment-002 @350", "resume: ok",
                 "handover s1/segment-002 @600", "rec s1/segment-003 @600"})},
    RecorderScript{"a segment failing at a rotation is started at the next",
        startedScript({"run 299", "refuse", "run 1", "accept", "run 300"}),
        started({"handover s1/segment-001 @300", "rec s1/segment-003 @600"})},
    RecorderScript{"an interruption ends the segment, its end starts the next, a second end starts nothing",
        startedScript({"run 50", "began", "run 10", "ended", "ended"}),
        started({"stop s1/segment-001 @50", "activate", "rec s1/segment-002 @60", "activate"})},
    RecorderScript{"interruptions while idle, without a usable type or while paused change nothing",
        {"began", "start", "odd", "run 5", "pause", "began", "ended"},
        started({"stop s1/segment-001 @5", "pause: ok"})}),
    scriptName);

INSTANTIATE_TEST_SUITE_P(PauseResumeStop, MeetingRecorderTest, ::testing::Values(
    RecorderScript{"without a session every command but start fails; pause twice fails, resume twice is once",
        {"pause", "resume", "stop", "start", "resume", "pause", "pause", "resume", "resume", "ls"},
        {"pause: 録音していません", "resume: 録音していません", "stop: 録音していません", "configure", "activate",
         "rec s1/segment-001 @0", "start: ok", "resume: ok", "stop s1/segment-001 @0", "pause: ok",
         "pause: 録音していません", "activate", "rec s1/segment-002 @0", "resume: ok", "resume: ok",
         "ls: s1/segment-001.m4a s1/segment-002.m4a"}},
    RecorderScript{"a resume that cannot activate fails and leaves the session unpaused; the stop still joins",
        startedScript({"run 30", "pause", "activateFails Access denied", "resume", "activateOk", "resume", "pause",
                       "stop", "ls"}),
        started({"stop s1/segment-001 @30", "pause: ok", "activate: Access denied", "resume: Access denied",
                 "resume: ok", "pause: 録音していません", "deactivate", "join s1: segment-001 30",
                 "stop: s1/meeting.m4a", "ls: s1/meeting.m4a"})},
    RecorderScript{"a stop while paused joins what was recorded, and the rotation timer goes with the session",
        startedScript({"run 40", "pause", "run 20", "resume", "run 30", "stop", "recording?", "run 600", "ls"}),
        started({"stop s1/segment-001 @40", "pause: ok", "activate", "rec s1/segment-002 @60", "resume: ok",
                 "stop s1/segment-002 @90", "deactivate", "join s1: segment-001 40 segment-002 30",
                 "stop: s1/meeting.m4a", "idle", "ls: s1/meeting.m4a"})},
    RecorderScript{"recording ends before the join: a new session may start, pending and discard keep away",
        startedScript({"run 5", "holdJoin", "stop&", "await join", "recording?", "start", "recording?", "pending",
                       "discard s1/meeting.m4a", "discard s2/meeting.m4a", "ls", "releaseJoin", "wait", "pending",
                       "ls"}),
        started({"stop s1/segment-001 @5", "deactivate", "join s1: segment-001 5", "idle", "configure", "activate",
                 "rec s2/segment-001 @5", "start: ok", "recording", "pending: none", "discard: ok", "discard: ok",
                 "ls: s1/segment-001.m4a s2/segment-001.m4a", "stop: s1/meeting.m4a",
                 "pending: s1/meeting.m4a", "ls: s1/meeting.m4a s2/segment-001.m4a"})},
    RecorderScript{"a failed join fails the stop and keeps the segments",
        startedScript({"run 5", "joinFails Invalid data found when processing input", "stop", "recording?", "ls"}),
        started({"stop s1/segment-001 @5", "deactivate", "join s1: segment-001 5",
                 "stop: Invalid data found when processing input", "idle", "ls: s1/segment-001.m4a"})},
    RecorderScript{"closing for exit keeps the segments unjoined for pending",
        startedScript({"run 40", "exit", "recording?", "ls", "pending"}),
        started({"stop s1/segment-001 @40", "deactivate", "idle", "ls: s1/segment-001.m4a", "join s1: segment-001 40",
                 "pending: s1/meeting.m4a"})}),
    scriptName);

// Where the system audio can be captured, the capture records; interruptions are the microphone's.
INSTANTIATE_TEST_SUITE_P(SystemAudio, MeetingRecorderTest, ::testing::Values(
    RecorderScript{"the capture takes pause, resume and stop; while it stops a start and a stop are refused",
        {"capture", "start", "pause", "pause", "resume", "start", "began", "ended", "stop&", "await capture stop",
         "recording?", "stop", "start", "ended", "finishStop s1/meeting.m4a", "wait", "recording?"},
        {"capture start s1", "start: ok", "capture pause", "pause: ok", "capture pause", "pause: ok", "capture resume",
         "resume: ok", "start: すでに録音中です", "capture stop", "recording", "stop: 録音していません",
         "start: すでに録音中です", "stop: s1/meeting.m4a", "idle"}},
    RecorderScript{"a failed capture stop fails the stop, releases the session and keeps the directory",
        {"capture", "start", "stop&", "await capture stop", "finishStop fail:音が1つも録れていません", "wait",
         "recording?", "ls"},
        {"capture start s1", "start: ok", "capture stop", "stop: 音が1つも録れていません", "idle", "ls: s1"}},
    RecorderScript{"a capture that cannot start falls back to the microphone in a fresh directory, and says so",
        {"capture", "captureFails 画面が見つかりません", "start", "ls", "pause", "pause", "start"},
        {"capture start s1", "configure", "activate", "rec s2/segment-001 @0", "start: ok",
         "alert マイクだけで録音しています", "ls: s2/segment-001.m4a", "stop s2/segment-001 @0", "pause: ok",
         "pause: 録音していません", "start: すでに録音中です"}},
    RecorderScript{"a stop while the capture starts waits for it, and an interruption meanwhile starts no segment",
        {"capture", "holdStart", "start&", "await capture start", "ended", "stop&", "finishStart",
         "await capture stop", "finishStop s1/meeting.m4a", "wait", "recording?"},
        {"capture start s1", "capture stop", "start: ok", "stop: s1/meeting.m4a", "idle"}}),
    scriptName);

// The microphone once a second, the disk as it starts and once a minute, a failed write at once.
INSTANTIATE_TEST_SUITE_P(Health, MeetingRecorderTest, ::testing::Values(
    RecorderScript{"twenty quiet seconds or a mute are silent until the microphone hears again; a pause is not",
        startedScript({"quiet", "run 19", "run 1", "loud", "run 1", "quiet", "run 10", "pause", "run 60", "resume",
                       "run 20", "loud", "run 4", "mute", "run 1", "unmute", "run 1"}),
        started({"health: silent @20", "health: ok @21", "stop s1/segment-001 @31", "pause: ok", "activate",
                 "rec s1/segment-002 @91", "resume: ok", "health: silent @111", "health: ok @112",
                 "health: silent @116", "health: ok @117"})},
    RecorderScript{"less free space than ten minutes of the recording is low, from the start on and once a minute",
        {"free 5000000", "start", "free 4000000", "run 59", "run 1", "free 90000000", "run 60", "stop", "capture",
         "free 80000000", "start", "stop&", "await capture stop", "finishStop s2/meeting.m4a", "wait"},
        started({"health: disk low @60", "health: ok @120", "stop s1/segment-001 @120", "deactivate",
                 "join s1: segment-001 120", "stop: s1/meeting.m4a", "capture start s2", "start: ok",
                 "health: disk low @120", "capture stop", "stop: s2/meeting.m4a"})},
    RecorderScript{"a failed write ends the segment at once and is told once; nothing rotates, the stop joins",
        startedScript({"run 30", "writeFails No space left on device", "writeFails No space left on device",
                       "run 300", "stop", "ls"}),
        started({"stop s1/segment-001 @30", "health: write failed: No space left on device @30", "deactivate",
                 "join s1: segment-001 30", "stop: s1/meeting.m4a", "ls: s1/meeting.m4a"})},
    RecorderScript{"a session directory removed while recording is a failed write at the next check",
        startedScript({"run 10", "rm s1", "run 50"}),
        started({"stop s1/segment-001 @60", "health: write failed: No such file or directory @60"})}),
    scriptName);

}  // namespace
}  // namespace orvan
