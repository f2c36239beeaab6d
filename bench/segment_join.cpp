// Joins twelve 300-second microphone segments, as the recorder leaves them, into one file, and has the
// ffmpeg command line do the same gapless join in the same run. Prints the times, their ratio, each
// result's length against the recorded one, the largest offset at a join (found by cross-correlating
// each join with the signal that was recorded) and the error at the joins.
//
//   build/bench/segment_join [--segments 12] [--seconds 300] [--keep DIR]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "linux/ffmpeg/FfmpegAudioJoiner.h"
#include "linux/ffmpeg/FfmpegSegmentWriter.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using namespace orvan;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 16000;
constexpr std::int64_t kLeadIn = 2048;  // what a rotation hands the next segment's encoder

// A continuous, non-periodic test signal: several tones at unrelated frequencies, so that a shifted
// copy never matches itself within a few hundred samples.
double signal(std::int64_t n) {
    static const double kTones[][3] = {{233.0, 0.22, 0.0}, {547.3, 0.18, 1.0}, {811.9, 0.14, 2.0},
                                       {1187.7, 0.12, 3.0}, {1733.1, 0.08, 4.0}};
    double value = 0;
    for (const auto& tone : kTones) {
        value += tone[1] * std::sin(2 * std::numbers::pi * tone[0] * static_cast<double>(n) / kRate + tone[2]);
    }
    return value;
}

std::vector<float> samples(std::int64_t from, std::int64_t count) {
    std::vector<float> out(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) out[static_cast<std::size_t>(i)] = static_cast<float>(signal(from + i));
    return out;
}

// Writes the segments as the recorder's rotations leave them: every `length` samples the segment
// ends on a whole encoder frame, the samples after that begin the next one, whose encoder first
// takes the 2048 samples before them. Answers where each segment begins.
std::vector<std::int64_t> writeSegments(const std::vector<fs::path>& files, std::int64_t length) {
    std::vector<std::int64_t> starts;
    std::vector<float> carried;
    std::int64_t start = 0;
    const auto count = static_cast<std::int64_t>(files.size());
    for (std::int64_t k = 0; k < count; ++k) {
        auto created = FfmpegSegmentWriter::create(files[static_cast<std::size_t>(k)], {});
        if (!std::holds_alternative<std::unique_ptr<FfmpegSegmentWriter>>(created)) {
            std::fprintf(stderr, "cannot write a segment: %s\n", std::get<std::string>(created).c_str());
            std::exit(1);
        }
        auto& writer = *std::get<std::unique_ptr<FfmpegSegmentWriter>>(created);
        if (start > 0) {
            const auto lead = samples(start - kLeadIn, kLeadIn);
            writer.leadIn(lead.data(), lead.size());
        }
        starts.push_back(start);
        writer.append(carried.data(), carried.size());
        std::int64_t at = start + static_cast<std::int64_t>(carried.size());
        const std::int64_t rotation = (k + 1) * length;
        constexpr std::int64_t kChunk = 800;  // 50 ms, as capture delivers it
        while (at < rotation) {
            const auto chunk = samples(at, std::min(kChunk, rotation - at));
            writer.append(chunk.data(), chunk.size());
            at += static_cast<std::int64_t>(chunk.size());
        }
        carried = k + 1 < count ? writer.takeUnencoded() : std::vector<float>{};
        start += writer.framesAppended();
        if (auto error = writer.finish()) {
            std::fprintf(stderr, "cannot finish a segment: %s\n", error->c_str());
            std::exit(1);
        }
    }
    return starts;
}

// The lag (in samples) at which the output around `join` best matches the recorded signal: 0 for a
// gapless join, +n after a gap of n samples, -n after an overlap (up to a quarter second).
int offsetAt(const std::vector<float>& output, std::int64_t join) {
    constexpr int kReach = 4000;
    constexpr int kWindow = 1600;
    const std::int64_t start = join + 200;
    if (start + kWindow > static_cast<std::int64_t>(output.size())) return 0;
    const auto reference = samples(start - kReach, kWindow + 2 * kReach);
    int best = 0;
    double bestScore = -1e300;
    for (int lag = -kReach; lag <= kReach; ++lag) {
        double score = 0;
        for (int i = 0; i < kWindow; ++i) {
            score += static_cast<double>(output[static_cast<std::size_t>(start + i)]) *
                     static_cast<double>(reference[static_cast<std::size_t>(kReach + i - lag)]);
        }
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

struct Result {
    double seconds = 0;
    std::int64_t length = 0;
    int largestOffset = 0;
    double joinError = -300;  // dB under the signal, the worst join
};

// The segments' own audio, each decoded by itself and trimmed to its duration, back to back: what
// a join should sound like.
std::vector<float> decodedAlone(const std::vector<fs::path>& files) {
    std::vector<float> all;
    for (const auto& file : files) {
        const auto audio = testing::decodeAudio(file);
        if (!audio) std::exit(1);
        all.insert(all.end(), audio->samples.begin(), audio->samples.end());
    }
    return all;
}

double decibels(double ratio) { return ratio > 0 ? 20 * std::log10(ratio) : -300; }

Result measure(const fs::path& output, double seconds, const std::vector<std::int64_t>& joins,
               const std::vector<float>& alone) {
    Result result;
    result.seconds = seconds;
    std::string error;
    const auto audio = testing::decodeAudio(output, &error);
    if (!audio) {
        std::fprintf(stderr, "cannot decode %s: %s\n", output.c_str(), error.c_str());
        std::exit(1);
    }
    result.length = static_cast<std::int64_t>(audio->samples.size());
    const double level = testing::rms(alone, 0, alone.size());
    for (const auto join : joins) {
        const int offset = offsetAt(audio->samples, join);
        if (std::abs(offset) >= std::abs(result.largestOffset)) result.largestOffset = offset;
        // Where the join acts: the next segment's first two encoder frames.
        double energy = 0;
        for (std::int64_t i = join; i < join + 2048 && i < result.length && i < static_cast<std::int64_t>(alone.size()); ++i) {
            const double d = static_cast<double>(audio->samples[static_cast<std::size_t>(i)]) -
                             static_cast<double>(alone[static_cast<std::size_t>(i)]);
            energy += d * d;
        }
        result.joinError = std::max(result.joinError, decibels(std::sqrt(energy / 2048) / level));
    }
    return result;
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void print(const char* name, const Result& result, std::int64_t expected) {
    std::printf("  %-27s %7.2f s, %lld samples (%+lld), largest offset at a join %d samples, join error %6.1f dB\n",
                name, result.seconds, static_cast<long long>(result.length),
                static_cast<long long>(result.length - expected), result.largestOffset, result.joinError);
}

}  // namespace

int main(int argc, char** argv) {
    int count = 12;
    int segmentSeconds = 300;
    std::optional<fs::path> keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--segments") count = std::atoi(argv[i + 1]);
        else if (option == "--seconds") segmentSeconds = std::atoi(argv[i + 1]);
        else if (option == "--keep") keep = argv[i + 1];
    }
    if (count < 2 || segmentSeconds < 1) {
        std::fprintf(stderr, "usage: segment_join [--segments N>=2] [--seconds S>=1] [--keep DIR]\n");
        return 2;
    }
    testing::TempDirectory temporary("orvan-bench");
    const fs::path dir = keep ? *keep : temporary.path();
    fs::create_directories(dir);

    const std::int64_t length = static_cast<std::int64_t>(segmentSeconds) * kRate;
    const std::int64_t expected = length * count;
    std::printf("writing %d segments of %d s (AAC, 16 kHz mono, 32 kbit/s, crash-safe fragments)...\n", count,
                segmentSeconds);
    std::fflush(stdout);
    std::vector<fs::path> files;
    for (int k = 0; k < count; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "segment-%03d.m4a", k + 1);
        files.push_back(dir / name);
    }
    const auto starts = writeSegments(files, length);
    const std::vector<std::int64_t> joins(starts.begin() + 1, starts.end());
    const auto alone = decodedAlone(files);

    const auto joinWith = [&](bool packets, const fs::path& output) {
        FfmpegAudioJoiner joiner(FfmpegAudioJoiner::Output{.joinPackets = packets});
        const auto started = Clock::now();
        std::vector<AudioJoiner::Piece> pieces;
        for (const auto& file : files) {
            const auto duration = joiner.audioDuration(file);
            if (!duration) {
                std::fprintf(stderr, "no duration for %s\n", file.c_str());
                std::exit(1);
            }
            pieces.push_back({file, *duration});
        }
        if (auto failure = joiner.join(pieces, output)) {
            std::fprintf(stderr, "join failed: %s\n", failure->message.c_str());
            std::exit(1);
        }
        return since(started);
    };
    // Ours: the segments' packets under one edit list; and, for comparison, the join that decodes
    // and encodes again (what segments that do not fit get).
    const double oursSeconds = joinWith(true, dir / "ours.m4a");
    const double encodedSeconds = joinWith(false, dir / "encoded.m4a");

    // The command line: each segment trimmed to its own audio (its priming and lead-in are the
    // samples before presentation time zero, which the command line does not drop for fragmented
    // files), joined with the concat filter, encoded once with the same settings.
    std::string command = "ffmpeg -nostdin -y -v error";
    std::string graph;
    for (int k = 0; k < count; ++k) {
        command += " -i " + files[static_cast<std::size_t>(k)].string();
        const auto index = static_cast<std::size_t>(k);
        const std::int64_t own = (index + 1 < starts.size() ? starts[index + 1] : expected) - starts[index];
        const std::int64_t skip = (k > 0 ? kLeadIn : 0) + 1024;
        graph += "[" + std::to_string(k) + ":a]atrim=start_sample=" + std::to_string(skip) +
                 ":end_sample=" + std::to_string(skip + own) + ",asetpts=N/SR/TB[a" + std::to_string(k) + "];";
    }
    for (int k = 0; k < count; ++k) graph += "[a" + std::to_string(k) + "]";
    graph += "concat=n=" + std::to_string(count) + ":v=0:a=1[out]";
    command += " -filter_complex \"" + graph + "\" -map \"[out]\" -c:a aac -b:a 32k -ar 16000 -ac 1 " +
               (dir / "ffmpeg.m4a").string();
    auto started = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "the ffmpeg command line failed: %s\n", command.c_str());
        return 1;
    }
    const double ffmpegSeconds = since(started);

    // For comparison, what a plain stream copy gives: every segment's priming and lead-in stay in.
    {
        FILE* list = std::fopen((dir / "list.txt").c_str(), "w");
        for (const auto& file : files) std::fprintf(list, "file '%s'\n", file.c_str());
        std::fclose(list);
    }
    const std::string copy = "ffmpeg -nostdin -y -v error -f concat -safe 0 -i " + (dir / "list.txt").string() +
                             " -c copy " + (dir / "copied.m4a").string();
    started = Clock::now();
    if (std::system(copy.c_str()) != 0) {
        std::fprintf(stderr, "the ffmpeg stream copy failed\n");
        return 1;
    }
    const double copySeconds = since(started);

    std::printf("joined %d segments = %lld s of audio; join error: the two encoder frames after each join against\n"
                "the segments decoded by themselves, worst join, in dB under the signal\n",
                count, static_cast<long long>(expected / kRate));
    print("OrvanOffice packet join:", measure(dir / "ours.m4a", oursSeconds, joins, alone), expected);
    print("OrvanOffice encoding join:", measure(dir / "encoded.m4a", encodedSeconds, joins, alone), expected);
    print("ffmpeg command line join:", measure(dir / "ffmpeg.m4a", ffmpegSeconds, joins, alone), expected);
    print("(stream copy, not gapless)", measure(dir / "copied.m4a", copySeconds, joins, alone), expected);
    std::printf("ratio (OrvanOffice packet join / ffmpeg): %.3f\n", oursSeconds / ffmpegSeconds);
    return 0;
}
