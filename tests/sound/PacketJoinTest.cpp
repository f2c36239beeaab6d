// Segments joined by their packets: a continuous tone cut into segments as the recorder's rotations
// cut them comes out of the join exactly as long as it went in, and at each join exactly as the
// segments decode by themselves; segments that do not fit are joined by encoding them again.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numeric>
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
constexpr double kTone = 440;
constexpr std::int64_t kLeadIn = 2048;

struct Segment {
    std::int64_t until;   // where the recorder rotates (or, for the last, stops)
    bool rotated = true;  // false: ended by a pause, the next starts from silence
    int rate = kRate;
};

class PacketJoinTest : public ::testing::Test {
protected:
    // Writes the tone as the recorder does; answers the pieces and where each segment begins.
    std::vector<AudioJoiner::Piece> record(const std::vector<Segment>& segments) {
        std::vector<AudioJoiner::Piece> pieces;
        std::vector<float> carried;
        std::int64_t at = 0;
        bool continues = false;
        for (std::size_t k = 0; k < segments.size(); ++k) {
            const fs::path file = temp.path() / ("segment-00" + std::to_string(k + 1) + ".m4a");
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
        const fs::path output = temp.path() / "meeting.partial.m4a";
        const auto failure = joiner.join(pieces, output);
        EXPECT_FALSE(failure) << failure->message;
        return decodeAudio(output).value_or(DecodedAudio{});
    }

    TempDirectory temp{"orvan-packet-join"};
    FfmpegAudioJoiner joiner;
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
