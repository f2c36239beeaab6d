// Joining segments, finding left-over recordings and discarding collected ones, as scripts on the
// scripted ports: the files a script leaves behind are part of its trace ("ls").
#include <gtest/gtest.h>

#include "tests/unit/RecorderScript.h"

namespace orvan {
namespace {

using orvan::testing::RecorderScript;
using orvan::testing::scriptName;

class RecordingFinishTest : public orvan::testing::RecorderScriptRunner,
                            public ::testing::WithParamInterface<RecorderScript> {};

TEST_P(RecordingFinishTest, LeavesTheTrace) { play(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Joining, RecordingFinishTest, ::testing::Values(
    // Plain name order ("segment-1000" after "segment-010"); a segment with no audio adds nothing; after
    // a join every segment goes, the skipped ones too, and other files stay.
    RecorderScript{"segment files with audio are joined in name order",
        {"segment a/segment-010.m4a 10", "segment a/segment-002.m4a 300", "segment a/segment-1000.m4a 5",
         "segment a/segment-001.m4a 300", "segment a/segment-003.M4A 7", "segment a/segment-004.m4a.tmp 7",
         "segment a/xsegment-005.m4a 7", "segment a/.segment-006.m4a 7", "file a/segment-007.m4a",
         "file a/segment-008.m4a garbage", "segment a/segment-009.m4a 0", "file a/notes.txt kept", "pending", "ls"},
        {"join a: segment-001 300 segment-002 300 segment-010 10 segment-1000 5", "pending: a/meeting.m4a",
         "ls: a/.segment-006.m4a a/meeting.m4a a/notes.txt a/segment-003.M4A a/segment-004.m4a.tmp "
         "a/xsegment-005.m4a"}},
    RecorderScript{"a finished file is answered without looking at the segments",
        {"file a/meeting.m4a", "segment a/segment-001.m4a 10", "pending", "ls"},
        {"pending: a/meeting.m4a", "ls: a/meeting.m4a a/segment-001.m4a"}},
    RecorderScript{"nothing to join never holds back later sessions: an empty one goes, an unreadable one stays",
        {"file a/segment-001.m4a corrupt", "file b/segment-001.m4a", "segment b/segment-002.m4a 0", "file c/meeting.m4a",
         "pending", "ls"},
        {"pending: c/meeting.m4a", "ls: a/segment-001.m4a c/meeting.m4a"}},
    RecorderScript{"join failures carry their texts and leave neither the file nor the partial one",
        {"segment a/segment-001.m4a 12", "joinFails noTrack", "pending", "joinFails noExportSession", "pending",
         "joinFails No space left on device", "pending", "ls"},
        {"join a: segment-001 12", "pending: 録音をまとめられませんでした: トラックを作れません",
         "join a: segment-001 12", "pending: 録音をまとめられませんでした: 書き出しを準備できません",
         "join a: segment-001 12", "pending: No space left on device", "ls: a/segment-001.m4a"}},
    RecorderScript{"a failing disk fails pending instead of ending the process",
        {"segment a/segment-001.m4a 5", "diskFails", "pending", "ls"},
        {"pending: Input/output error", "ls: a/segment-001.m4a"}}),
    scriptName);

INSTANTIATE_TEST_SUITE_P(Pending, RecordingFinishTest, ::testing::Values(
    RecorderScript{"finished files in name order until discarded",
        {"pending", "file b/meeting.m4a", "file a/meeting.m4a", "pending", "pending", "discard a/meeting.m4a",
         "pending", "discard b/meeting.m4a", "pending", "ls"},
        {"pending: none", "pending: a/meeting.m4a", "pending: a/meeting.m4a", "discard: ok", "pending: b/meeting.m4a",
         "discard: ok", "pending: none", "ls: -"}},
    RecorderScript{"a left-over session is joined and what holds no recording is removed",
        {"file .DS_Store stray", "file b/segment-001.m4a.part x", "segment c/segment-001.m4a 30",
         "segment c/segment-002.m4a 15", "pending", "ls"},
        {"join c: segment-001 30 segment-002 15", "pending: c/meeting.m4a", "ls: c/meeting.m4a"}},
    RecorderScript{"raw tracks are kept where they cannot be mixed",
        {"file a/mic.f32 x", "file b/meeting.m4a", "pending", "ls"},
        {"pending: b/meeting.m4a", "ls: a/mic.f32 b/meeting.m4a"}},
    RecorderScript{"raw tracks are mixed; silent ones are removed, a failed mix-down keeps them",
        {"capture", "file a/system.f32", "file b/mic.f32 x", "file c/system.f32 sound", "finalize a nosound",
         "finalize b ディスクがいっぱいです", "finalize c file", "pending", "ls"},
        {"finalize a", "finalize b", "finalize c", "pending: c/meeting.m4a",
         "ls: b/mic.f32 c/meeting.m4a c/system.f32"}},
    RecorderScript{"raw tracks are mixed without capture support where the mix-down is available",
        {"mixable", "file a/mic.f32 sound", "finalize a file", "pending"}, {"finalize a", "pending: a/meeting.m4a"}}),
    scriptName);

// Paths come from the page: anything but a finished file directly in a session directory is left
// alone. (Every path here is absolute: a relative one would be resolved against the test's own
// working directory.)
INSTANTIATE_TEST_SUITE_P(Discard, RecordingFinishTest, ::testing::Values(
    RecorderScript{"only a finished file directly in a session directory is discarded",
        {"file a/meeting.m4a", "segment a/segment-001.m4a 3", "file a/mic.f32 raw", "file meeting.m4a root",
         "file ~/elsewhere/meeting.m4a", "file a/nested/meeting.m4a", "discard a/mic.f32", "discard a/segment-001.m4a",
         "discard meeting.m4a", "discard ~/elsewhere/meeting.m4a", "discard a/nested/meeting.m4a", "ls"},
        {"discard: ok", "discard: ok", "discard: ok", "discard: ok", "discard: ok",
         "ls: ../elsewhere/meeting.m4a a/meeting.m4a a/mic.f32 a/nested/meeting.m4a a/segment-001.m4a meeting.m4a"}},
    // The file need not exist, only its place counts; a directory that is gone is the file system's error.
    RecorderScript{"links and dot-dot lead to the real session; the second time fails",
        {"file a/meeting.m4a", "file b/meeting.m4a", "link ~/link a", "discard ~/link/meeting.m4a",
         "discard c/../b/./meeting.m4a", "discard b/meeting.m4a", "ls"},
        {"discard: ok", "discard: ok", "discard: No such file or directory", "ls: ../link"}}),
    scriptName);

}  // namespace
}  // namespace orvan
