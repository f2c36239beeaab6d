// The FFmpeg adapters: crash-safe AAC segments and their gapless joining (by their packets, or by
// encoding them again), checked by decoding.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "linux/ffmpeg/FfmpegAudioJoiner.h"
#include "linux/ffmpeg/FfmpegSegmentWriter.h"
#include "tests/sound/ToneSource.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

constexpr int kRate = 16000;
// 11 periods of 440 Hz at 16 kHz exactly: the tone's phase is the same in every such window.
constexpr std::size_t kWindow = 400;

// Leaves out where an encoder starting from silence rings for a moment at a recording's very start.
constexpr std::size_t kStartRinging = 1200;

// Writes samples [from, from + count) of a 440 Hz tone as one segment, in chunks as capture delivers
// them. A segment that continues another gets the end of that one as its lead-in, as the recorder's
// capture hands it over at a rotation.
void writeSegment(const fs::path& file, std::int64_t from, std::int64_t count, std::int64_t leadIn = 0) {
    auto created = FfmpegSegmentWriter::create(file, {});
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<FfmpegSegmentWriter>>(created))
        << std::get<std::string>(created);
    auto& writer = *std::get<std::unique_ptr<FfmpegSegmentWriter>>(created);
    if (leadIn > 0) {
        const auto before = tone(440, from - leadIn, leadIn);
        writer.leadIn(before.data(), static_cast<std::size_t>(leadIn));
    }
    const auto samples = tone(440, from, count);
    for (std::int64_t at = 0; at < count; at += 800) {
        writer.append(samples.data() + at, static_cast<std::size_t>(std::min<std::int64_t>(800, count - at)));
    }
    ASSERT_EQ(writer.finish(), std::nullopt);
    EXPECT_EQ(writer.framesAppended(), count);
}

class AudioFilesTest : public ::testing::Test {
protected:
    TempDirectory dir{"orvan-audio"};
    FfmpegAudioJoiner joiner;
};

TEST_F(AudioFilesTest, ASegmentHoldsExactlyItsSamplesAsAacInMpeg4Audio) {
    const fs::path file = dir.path() / "segment-001.m4a";
    writeSegment(file, 0, 40000);
    EXPECT_EQ(joiner.audioDuration(file), (MediaTime{40000, kRate}));

    std::string error;
    const auto audio = decodeAudio(file, &error);
    ASSERT_TRUE(audio) << error;
    EXPECT_EQ(audio->sampleRate, kRate);
    EXPECT_EQ(audio->samples.size(), 40000u);
    // The tone from the first window to the last, in time: the priming is not part of the audio.
    const auto levels = toneLevels(audio->samples, 440, kRate, kWindow, kStartRinging);
    EXPECT_GT(levels.smallestShare, 0.95);
    EXPECT_GT(levels.smallestRms, 0.3);
    EXPECT_NEAR(toneShiftAt(audio->samples, 20000, 440, kRate, 16000, 0), 0.0, 0.3);
    EXPECT_GT(std::abs(toneAt(audio->samples, 0, 16000, 440, kRate)), 0.2);

    // An M4A brand, and AAC at the configured bit rate (about 32 kbit/s for 2.5 s: 10 kB).
    std::ifstream in(file, std::ios::binary);
    std::string head(12, '\0');
    in.read(head.data(), 12);
    EXPECT_EQ(head.substr(4, 8), "ftypM4A ");
    EXPECT_LT(fs::file_size(file), 16000u);
}

TEST_F(AudioFilesTest, AKilledWriterLeavesEverythingButTheLastSecondReadable) {
    const fs::path file = dir.path() / "segment-001.m4a";
    const std::int64_t appended = 5 * kRate + 4000;  // 5.25 s
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto created = FfmpegSegmentWriter::create(file, {});
        if (!std::holds_alternative<std::unique_ptr<FfmpegSegmentWriter>>(created)) _exit(2);
        auto& writer = *std::get<std::unique_ptr<FfmpegSegmentWriter>>(created);
        const auto samples = tone(440, 0, appended);
        for (std::int64_t at = 0; at < appended; at += 800) writer.append(samples.data() + at, 800);
        raise(SIGKILL);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    const auto duration = joiner.audioDuration(file);
    ASSERT_TRUE(duration) << "a killed segment must stay readable";
    const double lost = static_cast<double>(appended) / kRate - duration->seconds();
    RecordProperty("lost_seconds", std::to_string(lost));
    std::printf("segment killed after %.2f s of audio: %.3f s readable, %.3f s lost\n",
                static_cast<double>(appended) / kRate, duration->seconds(), lost);
    EXPECT_GE(lost, 0.0);
    EXPECT_LE(lost, 1.1);

    const auto audio = decodeAudio(file);
    ASSERT_TRUE(audio);
    EXPECT_EQ(static_cast<std::int64_t>(audio->samples.size()), duration->value);
    EXPECT_GT(toneLevels(audio->samples, 440, kRate, kWindow, kStartRinging).smallestShare, 0.95);
}

TEST_F(AudioFilesTest, APieceTakesExactlyItsDurationAndJoinsAcrossKindsOfFile) {
    // A killed (fragmented, unfinished) segment, a short piece of a finished one, and an ordinary
    // MPEG-4 file made by the joiner itself.
    const fs::path first = dir.path() / "a.m4a";
    writeSegment(first, 0, 3 * kRate);
    const fs::path plain = dir.path() / "plain.m4a";
    const fs::path plainSource = dir.path() / "b.m4a";
    writeSegment(plainSource, 3 * kRate, 2 * kRate, 1024);
    ASSERT_FALSE(joiner.join({{plainSource, MediaTime{2 * kRate, kRate}}}, plain));
    EXPECT_EQ(joiner.audioDuration(plain), (MediaTime{2 * kRate, kRate}));

    const fs::path third = dir.path() / "c.m4a";
    writeSegment(third, 5 * kRate, 2 * kRate, 1024);
    const fs::path output = dir.path() / "out.m4a";
    // Only the first 16 007 samples of `third` are wanted: not a whole number of milliseconds.
    ASSERT_FALSE(joiner.join({{first, MediaTime{3 * kRate, kRate}}, {plain, MediaTime{32000, kRate}},
                              {third, MediaTime{16007, kRate}}},
                             output));
    EXPECT_EQ(joiner.audioDuration(output), (MediaTime{5 * kRate + 16007, kRate}));
    const auto audio = decodeAudio(output);
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->samples.size(), static_cast<std::size_t>(5 * kRate + 16007));
    for (const std::size_t join : {3 * kRate, 5 * kRate}) {
        EXPECT_NEAR(toneShiftAt(audio->samples, join, 440, kRate), 0.0, 0.3) << "at " << join;
    }
    EXPECT_GT(toneLevels(audio->samples, 440, kRate, kWindow, kStartRinging).smallestShare, 0.9);
}

TEST_F(AudioFilesTest, UnusableFilesHaveNoDurationAndFailuresCarryTheSystemText) {
    writeFile(dir.path() / "empty.m4a", "");
    writeFile(dir.path() / "text.m4a", "this is not audio at all, just some words in a file");
    EXPECT_EQ(joiner.audioDuration(dir.path() / "empty.m4a"), std::nullopt);
    EXPECT_EQ(joiner.audioDuration(dir.path() / "text.m4a"), std::nullopt);
    EXPECT_EQ(joiner.audioDuration(dir.path() / "missing.m4a"), std::nullopt);

    // A segment whose recording never started: created, then finished with no audio.
    auto created = FfmpegSegmentWriter::create(dir.path() / "never.m4a", {});
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<FfmpegSegmentWriter>>(created));
    EXPECT_EQ(std::get<std::unique_ptr<FfmpegSegmentWriter>>(created)->finish(), std::nullopt);
    const auto never = joiner.audioDuration(dir.path() / "never.m4a");
    EXPECT_TRUE(!never || !never->isPositive());

    const auto missingDir = FfmpegSegmentWriter::create(dir.path() / "no" / "such" / "segment.m4a", {});
    ASSERT_TRUE(std::holds_alternative<std::string>(missingDir));
    EXPECT_EQ(std::get<std::string>(missingDir), "No such file or directory");

    writeSegment(dir.path() / "ok.m4a", 0, kRate);
    const auto failure = joiner.join({{dir.path() / "ok.m4a", MediaTime{kRate, kRate}}},
                                     dir.path() / "no" / "such" / "meeting.m4a");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, AudioJoiner::Failure::Kind::failed);
    EXPECT_EQ(failure->message, "No such file or directory");

    // A piece that disappears between measuring and joining is the reader's failure.
    const auto gone = joiner.join({{dir.path() / "gone.m4a", MediaTime{kRate, kRate}}}, dir.path() / "x.m4a");
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->message, "No such file or directory");
}

// ---- Segments joined by their packets ---------------------------------------------------------------
// A continuous tone cut into segments as the recorder's rotations cut them comes out of the join
// exactly as long as it went in, and at each join exactly as the segments decode by themselves;
// segments that do not fit are joined by encoding them again.

constexpr double kTone = 440;
constexpr std::int64_t kLeadIn = 2048;

struct Segment {
    std::int64_t until;   // where the recorder rotates (or, for the last, stops)
    bool rotated = true;  // false: ended by a pause, the next starts from silence
    int rate = kRate;
};

class PacketJoinTest : public AudioFilesTest {
protected:
    // Writes the tone as the recorder does; answers the pieces and where each segment begins.
    std::vector<AudioJoiner::Piece> record(const std::vector<Segment>& segments) {
        std::vector<AudioJoiner::Piece> pieces;
        std::vector<float> carried;
        std::int64_t at = 0;
        bool continues = false;
        for (std::size_t k = 0; k < segments.size(); ++k) {
            const fs::path file = dir.path() / ("segment-00" + std::to_string(k + 1) + ".m4a");
            const int rate = segments[k].rate;
            auto writer = std::move(std::get<std::unique_ptr<FfmpegSegmentWriter>>(
                FfmpegSegmentWriter::create(file, {.sampleRate = rate})));
            if (continues) {
                const auto lead = tone(kTone, at - kLeadIn, kLeadIn, rate);
                writer->leadIn(lead.data(), lead.size());
            }
            starts.push_back(at);
            writer->append(carried.data(), carried.size());
            at += static_cast<std::int64_t>(carried.size());
            for (; at < segments[k].until; at += 800) {
                const auto chunk = tone(kTone, at, std::min<std::int64_t>(800, segments[k].until - at), rate);
                writer->append(chunk.data(), chunk.size());
            }
            at = segments[k].until;
            continues = segments[k].rotated && k + 1 < segments.size();
            carried = continues ? writer->takeUnencoded() : std::vector<float>{};
            at -= static_cast<std::int64_t>(carried.size());
            EXPECT_FALSE(writer->finish());
            pieces.push_back({file, *joiner.audioDuration(file)});
        }
        return pieces;
    }

    DecodedAudio joined(const std::vector<AudioJoiner::Piece>& pieces) {
        const fs::path output = dir.path() / "meeting.partial.m4a";
        const auto failure = joiner.join(pieces, output);
        EXPECT_FALSE(failure) << failure->message;
        return decodeAudio(output).value_or(DecodedAudio{});
    }

    std::vector<std::int64_t> starts;
};

TEST_F(PacketJoinTest, RotatedSegmentsJoinToTheSampleAndEachJoinDecodesAsTheSegmentsDo) {
    const auto pieces = record({{24000}, {48000}, {72000}, {72500}});
    const auto audio = joined(pieces);
    std::vector<float> alone;
    for (const auto& piece : pieces) {
        const auto own = decodeAudio(piece.file);
        ASSERT_TRUE(own);
        alone.insert(alone.end(), own->samples.begin(), own->samples.end());
    }
    ASSERT_EQ(audio.samples.size(), 72500u);
    ASSERT_EQ(alone.size(), 72500u);
    // What the file says of its length is what it holds.
    EXPECT_EQ(joiner.audioDuration(dir.path() / "meeting.partial.m4a"), (MediaTime{72500, kRate}));
    const double level = rms(alone, 0, alone.size());
    for (std::size_t k = 1; k < starts.size(); ++k) {
        const auto join = static_cast<std::size_t>(starts[k]);
        EXPECT_NEAR(toneShiftAt(audio.samples, join, kTone, kRate), 0.0, 0.3) << "at " << join;
        // Where the join acts: the first two encoder frames of the next segment.
        double energy = 0;
        for (std::size_t i = join; i < std::min(join + 2048, alone.size()); ++i) {
            const double d = static_cast<double>(audio.samples[i]) - static_cast<double>(alone[i]);
            energy += d * d;
        }
        EXPECT_LT(20 * std::log10(std::sqrt(energy / 2048) / level + 1e-15), -60.0) << "at " << join;
    }
}

TEST_F(PacketJoinTest, SegmentsThatDoNotFitAreEncodedAgainAndAPauseEndsOnAWholePacket) {
    struct Case {
        const char* what;
        std::vector<Segment> segments;
        std::size_t length;
    };
    const std::vector<Case> cases = {
        // A pause: the first segment plays on to its last packet's end (24000 → 24576).
        {"pause", {{24000, false}, {40000}}, 40576},
        // Another rate (one second at 48 kHz): decoded, resampled and encoded again, each piece
        // exactly its duration.
        {"rate", {{24000, false}, {24000 + 48000, true, 3 * kRate}}, 24000 + 16000},
    };
    for (const auto& c : cases) {
        starts.clear();
        const auto audio = joined(record(c.segments));
        EXPECT_EQ(audio.samples.size(), c.length) << c.what;
    }
}

}  // namespace
}  // namespace orvan
