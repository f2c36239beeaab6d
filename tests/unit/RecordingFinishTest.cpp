// Joining segments, finding left-over recordings and discarding collected ones, on fakes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/unit/MeetingRecorderTestSupport.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using orvan::testing::MeetingRecorderFixture;
using orvan::testing::writeFile;

// Session directory names, in the order "pending" looks at them.
constexpr const char* kFirst = "1a2b3c4d-0000-4000-8000-000000000000";
constexpr const char* kSecond = "8f00e1d2-0000-4000-8000-000000000000";
constexpr const char* kThird = "c0ffee00-0000-4000-8000-000000000000";

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> fileNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class RecordingFinishTest : public MeetingRecorderFixture {
protected:
    fs::path session(const char* name) const { return recordings() / name; }
    void segment(const char* dir, const char* name, double seconds) {
        writeFile(session(dir) / name, "seconds " + std::to_string(seconds));
    }
    void finished(const char* dir) { writeFile(session(dir) / "meeting.m4a", "finished " + std::string(dir)); }
    std::string finishedPath(const char* dir) const { return (session(dir) / "meeting.m4a").string(); }
};

// ---- Segments and joining --------------------------------------------------------------------------

TEST_F(RecordingFinishTest, ListSegmentsTakesOnlySegmentM4aFilesInNameOrder) {
    for (const char* name : {"segment-010.m4a", "segment-002.m4a", "segment-1000.m4a", "segment-001.m4a",
                             "segment-003.M4A", "segment-004.m4a.tmp", "xsegment-005.m4a", "mic.f32",
                             "meeting.m4a", ".segment-006.m4a"}) {
        writeFile(session(kFirst) / name, "");
    }
    std::vector<std::string> listed;
    for (const auto& file : MeetingRecorder::listSegments(session(kFirst))) {
        EXPECT_EQ(file.parent_path(), session(kFirst));
        listed.push_back(file.filename().string());
    }
    // Plain string order: "segment-1000" comes after "segment-010" because '0' < '1'.
    EXPECT_EQ(listed, (std::vector<std::string>{"segment-001.m4a", "segment-002.m4a", "segment-010.m4a",
                                                "segment-1000.m4a"}));
    EXPECT_TRUE(MeetingRecorder::listSegments(session(kSecond)).empty());
}

TEST_F(RecordingFinishTest, MergeJoinsUsableSegmentsInOrderAndRemovesThemAfterwards) {
    segment(kFirst, "segment-002.m4a", 300);
    segment(kFirst, "segment-001.m4a", 300);
    writeFile(session(kFirst) / "segment-003.m4a", "");          // created, never recorded into
    writeFile(session(kFirst) / "segment-004.m4a", "garbage");   // unreadable
    segment(kFirst, "segment-005.m4a", 0);                       // no time at all
    segment(kFirst, "segment-006.m4a", 60);
    writeFile(session(kFirst) / "notes.txt", "kept");

    const auto merged = recorder->mergeSegments(session(kFirst));
    ASSERT_TRUE(std::holds_alternative<fs::path>(merged)) << std::get<RecordingFailure>(merged).description();
    EXPECT_EQ(std::get<fs::path>(merged), session(kFirst) / "meeting.m4a");
    EXPECT_EQ(contents(session(kFirst) / "meeting.m4a"),
              "segment-001.m4a 300\nsegment-002.m4a 300\nsegment-006.m4a 60\n");
    // Every segment goes after a successful join, the skipped ones too; other files stay.
    EXPECT_EQ(fileNames(session(kFirst)), (std::vector<std::string>{"meeting.m4a", "notes.txt"}));
}

TEST_F(RecordingFinishTest, MergeAnswersAnExistingFileWithoutLookingAtTheSegments) {
    finished(kFirst);
    segment(kFirst, "segment-001.m4a", 10);
    const auto merged = recorder->mergeSegments(session(kFirst));
    ASSERT_TRUE(std::holds_alternative<fs::path>(merged));
    EXPECT_EQ(contents(session(kFirst) / "meeting.m4a"), std::string("finished ") + kFirst);
    EXPECT_EQ(joiner->joins, 0);
    EXPECT_EQ(MeetingRecorder::listSegments(session(kFirst)).size(), 1u);
}

TEST_F(RecordingFinishTest, MergeFailuresCarryTheirTextsAndKeepTheSegments) {
    writeFile(session(kFirst) / "segment-001.m4a", "");
    auto merged = recorder->mergeSegments(session(kFirst));
    ASSERT_TRUE(std::holds_alternative<RecordingFailure>(merged));
    EXPECT_EQ(std::get<RecordingFailure>(merged).description(), "録音をまとめられませんでした: 録音が空です");
    EXPECT_EQ(fileNames(session(kFirst)), std::vector<std::string>{"segment-001.m4a"});

    segment(kSecond, "segment-001.m4a", 12);
    using Kind = AudioJoiner::Failure::Kind;
    const std::vector<std::pair<AudioJoiner::Failure, std::string>> cases = {
        {{Kind::noTrack, ""}, "録音をまとめられませんでした: トラックを作れません"},
        {{Kind::noExportSession, ""}, "録音をまとめられませんでした: 書き出しを準備できません"},
        {{Kind::failed, "No space left on device"}, "No space left on device"},
    };
    for (const auto& [failure, description] : cases) {
        joiner->failure = failure;
        merged = recorder->mergeSegments(session(kSecond));
        ASSERT_TRUE(std::holds_alternative<RecordingFailure>(merged));
        EXPECT_EQ(std::get<RecordingFailure>(merged).description(), description);
        // Neither the finished file nor the half-written temporary one is left.
        EXPECT_EQ(fileNames(session(kSecond)), std::vector<std::string>{"segment-001.m4a"});
    }
}

// ---- Pending ---------------------------------------------------------------------------------------

TEST_F(RecordingFinishTest, PendingWithoutARecordingsDirectoryAnswersNone) {
    EXPECT_EQ(text(pending()), "(none)");
    EXPECT_FALSE(fs::exists(recordings()));
}

TEST_F(RecordingFinishTest, PendingAnswersFinishedFilesInNameOrderUntilDiscarded) {
    finished(kSecond);
    finished(kFirst);
    EXPECT_EQ(text(pending()), finishedPath(kFirst));
    EXPECT_EQ(text(pending()), finishedPath(kFirst));
    EXPECT_EQ(discard(finishedPath(kFirst)), std::nullopt);
    EXPECT_FALSE(fs::exists(session(kFirst)));
    EXPECT_EQ(text(pending()), finishedPath(kSecond));
    EXPECT_EQ(discard(finishedPath(kSecond)), std::nullopt);
    EXPECT_EQ(text(pending()), "(none)");
}

TEST_F(RecordingFinishTest, PendingJoinsALeftOverSessionAndRemovesWhatHoldsNoRecording) {
    writeFile(recordings() / ".DS_Store", "stray");
    fs::create_directories(session(kFirst));                           // empty
    writeFile(session(kSecond) / "segment-001.m4a.part", "not a segment");  // nothing usable
    segment(kThird, "segment-001.m4a", 30);
    segment(kThird, "segment-002.m4a", 15);

    EXPECT_EQ(text(pending()), finishedPath(kThird));
    EXPECT_EQ(contents(session(kThird) / "meeting.m4a"), "segment-001.m4a 30\nsegment-002.m4a 15\n");
    EXPECT_EQ(fileNames(recordings()), std::vector<std::string>{kThird});
}

TEST_F(RecordingFinishTest, AJoinFailureInPendingIsThrownAndLaterEntriesWait) {
    writeFile(session(kFirst) / "segment-001.m4a", "corrupt");
    finished(kSecond);
    EXPECT_EQ(text(pending()), "error: 録音をまとめられませんでした: 録音が空です");
    EXPECT_TRUE(fs::exists(session(kFirst) / "segment-001.m4a"));
}

TEST_F(RecordingFinishTest, AFailingDiskFailsPendingInsteadOfEndingTheProcess) {
    segment(kFirst, "segment-001.m4a", 5);
    joiner->diskFails = true;
    EXPECT_EQ(text(pending()), "error: " + std::make_error_code(std::errc::io_error).message());
    EXPECT_TRUE(fs::exists(session(kFirst) / "segment-001.m4a"));
}

TEST_F(RecordingFinishTest, PendingNeverTouchesTheSessionInUse) {
    ASSERT_EQ(start(), std::nullopt);
    runFor(std::chrono::seconds(20));
    const fs::path inUse = sessionDirectories().at(0);
    EXPECT_EQ(text(pending()), "(none)");
    EXPECT_TRUE(fs::exists(inUse / "segment-001.m4a"));
    EXPECT_FALSE(fs::exists(inUse / "meeting.m4a"));
    // Nor can it be discarded.
    EXPECT_EQ(discard((inUse / "meeting.m4a").string()), std::nullopt);
    EXPECT_TRUE(fs::exists(inUse));
}

TEST_F(RecordingFinishTest, PendingAndDiscardKeepAwayFromADirectoryBeingJoined) {
    ASSERT_EQ(start(), std::nullopt);
    runFor(std::chrono::seconds(20));
    const fs::path dir = sessionDirectories().at(0);
    joiner->hold();
    std::optional<PathResult> stopped;
    recorder->stop([&](PathResult result) { stopped = std::move(result); });
    ASSERT_TRUE(joiner->waitUntilJoining(1));

    EXPECT_EQ(text(pending()), "(none)");
    EXPECT_EQ(discard((dir / "meeting.m4a").string()), std::nullopt);
    EXPECT_TRUE(fs::exists(dir / "segment-001.m4a"));
    EXPECT_EQ(joiner->joins, 1);

    joiner->release();
    ASSERT_TRUE(settle([&] { return stopped.has_value(); }));
    EXPECT_EQ(text(*stopped), (dir / "meeting.m4a").string());
    EXPECT_EQ(text(pending()), (dir / "meeting.m4a").string());
}

TEST_F(RecordingFinishTest, RawTracksAreKeptWhereSystemAudioCannotBeMixed) {
    writeFile(session(kFirst) / "mic.f32", std::string(64, '\0'));
    finished(kSecond);
    EXPECT_EQ(text(pending()), finishedPath(kSecond));
    EXPECT_TRUE(fs::exists(session(kFirst) / "mic.f32"));
    EXPECT_TRUE(systemAudio->finalized.empty());
}

TEST_F(RecordingFinishTest, RawTracksAreMixedWhereSupportedAndSilentOnesRemoved) {
    systemAudio->isSupported = true;
    writeFile(session(kFirst) / "system.f32", std::string(64, '\0'));    // no sound at all
    writeFile(session(kSecond) / "mic.f32", "x");                         // the mix-down fails
    writeFile(session(kThird) / "system.f32", "sound");
    systemAudio->finalizeResults[kFirst] = SystemAudio::NoSound{};
    systemAudio->finalizeResults[kSecond] = RecordingFailure(SystemError{"ディスクがいっぱいです"});
    systemAudio->finalizeResults[kThird] = session(kThird) / "meeting.m4a";

    EXPECT_EQ(text(pending()), finishedPath(kThird));
    EXPECT_EQ(systemAudio->finalized, (std::vector<std::string>{kFirst, kSecond, kThird}));
    EXPECT_FALSE(fs::exists(session(kFirst)));
    EXPECT_TRUE(fs::exists(session(kSecond) / "mic.f32")) << "a failed mix-down keeps its raw tracks";
}

TEST_F(RecordingFinishTest, RawTracksAreMixedWithoutCaptureSupportWhereTheMixDownIsAvailable) {
    systemAudio->isMixable = true;
    writeFile(session(kFirst) / "mic.f32", "sound");
    systemAudio->finalizeResults[kFirst] = session(kFirst) / "meeting.m4a";
    EXPECT_EQ(text(pending()), finishedPath(kFirst));
    EXPECT_EQ(systemAudio->finalized, std::vector<std::string>{kFirst});
}

// ---- Discard ---------------------------------------------------------------------------------------

TEST_F(RecordingFinishTest, DiscardIgnoresEveryPathButAFinishedFileInASessionDirectory) {
    finished(kFirst);
    segment(kFirst, "segment-001.m4a", 3);
    writeFile(session(kFirst) / "mic.f32", "raw");
    writeFile(recordings() / "meeting.m4a", "in the root");
    writeFile(home.path() / "elsewhere" / "meeting.m4a", "outside");
    writeFile(session(kFirst) / "nested" / "meeting.m4a", "too deep");

    for (const fs::path& path : {session(kFirst) / "mic.f32", session(kFirst) / "segment-001.m4a",
                                 recordings() / "meeting.m4a", home.path() / "elsewhere" / "meeting.m4a",
                                 session(kFirst) / "nested" / "meeting.m4a", fs::path("meeting.m4a")}) {
        EXPECT_EQ(discard(path.string()), std::nullopt) << path;
    }
    EXPECT_TRUE(fs::exists(session(kFirst) / "meeting.m4a"));
    EXPECT_TRUE(fs::exists(session(kFirst) / "nested"));
    EXPECT_TRUE(fs::exists(recordings() / "meeting.m4a"));
    EXPECT_TRUE(fs::exists(home.path() / "elsewhere" / "meeting.m4a"));
}

TEST_F(RecordingFinishTest, DiscardFollowsLinksAndDotDotToTheRealSessionAndFailsTheSecondTime) {
    finished(kFirst);
    finished(kSecond);
    fs::create_directory_symlink(session(kFirst), home.path() / "link");
    EXPECT_EQ(discard((home.path() / "link" / "meeting.m4a").string()), std::nullopt);
    EXPECT_FALSE(fs::exists(session(kFirst)));

    const std::string dotted = (session(kThird) / ".." / kSecond / "." / "meeting.m4a").string();
    EXPECT_EQ(discard(dotted), std::nullopt);
    EXPECT_FALSE(fs::exists(session(kSecond)));

    // The file need not exist, only its place counts; a directory that is gone is the file system's error.
    EXPECT_EQ(text(discard(finishedPath(kSecond))), std::make_error_code(std::errc::no_such_file_or_directory).message());
}

}  // namespace
}  // namespace orvan
