// Joins twelve 300-second microphone segments, as the recorder leaves them, into one file, and has the
// ffmpeg command line do the same gapless join in the same run. Prints both times, their ratio, and
// the largest offset at a join in either result (found by cross-correlating each join with the
// signal that was recorded).
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

void writeSegment(const fs::path& file, std::int64_t from, std::int64_t count) {
    auto created = FfmpegSegmentWriter::create(file, {});
    if (!std::holds_alternative<std::unique_ptr<FfmpegSegmentWriter>>(created)) {
        std::fprintf(stderr, "cannot write %s: %s\n", file.c_str(), std::get<std::string>(created).c_str());
        std::exit(1);
    }
    auto& writer = *std::get<std::unique_ptr<FfmpegSegmentWriter>>(created);
    if (from > 0) {
        const auto lead = samples(from - kLeadIn, kLeadIn);
        writer.leadIn(lead.data(), lead.size());
    }
    constexpr std::int64_t kChunk = 800;  // 50 ms, as capture delivers it
    for (std::int64_t at = 0; at < count; at += kChunk) {
        const auto chunk = samples(from + at, std::min(kChunk, count - at));
        writer.append(chunk.data(), chunk.size());
    }
    if (auto error = writer.finish()) {
        std::fprintf(stderr, "cannot finish %s: %s\n", file.c_str(), error->c_str());
        std::exit(1);
    }
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
};

Result measure(const fs::path& output, double seconds, const std::vector<std::int64_t>& joins) {
    Result result;
    result.seconds = seconds;
    std::string error;
    const auto audio = testing::decodeAudio(output, &error);
    if (!audio) {
        std::fprintf(stderr, "cannot decode %s: %s\n", output.c_str(), error.c_str());
        std::exit(1);
    }
    result.length = static_cast<std::int64_t>(audio->samples.size());
    for (const auto join : joins) {
        const int offset = offsetAt(audio->samples, join);
        if (std::abs(offset) >= std::abs(result.largestOffset)) result.largestOffset = offset;
    }
    return result;
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

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
    std::printf("writing %d segments of %d s (AAC, 16 kHz mono, 32 kbit/s, crash-safe fragments)...\n", count,
                segmentSeconds);
    std::fflush(stdout);
    std::vector<fs::path> files;
    std::vector<std::int64_t> joins;
    for (int k = 0; k < count; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "segment-%03d.m4a", k + 1);
        files.push_back(dir / name);
        writeSegment(files.back(), k * length, length);
        if (k > 0) joins.push_back(k * length);
    }

    // Ours: measure each segment, then one decode-trim-encode pass.
    FfmpegAudioJoiner joiner;
    auto started = Clock::now();
    std::vector<AudioJoiner::Piece> pieces;
    for (const auto& file : files) {
        const auto duration = joiner.audioDuration(file);
        if (!duration) {
            std::fprintf(stderr, "no duration for %s\n", file.c_str());
            return 1;
        }
        pieces.push_back({file, *duration});
    }
    if (auto failure = joiner.join(pieces, dir / "ours.m4a")) {
        std::fprintf(stderr, "join failed: %s\n", failure->message.c_str());
        return 1;
    }
    const double oursSeconds = since(started);

    // The command line: each segment trimmed to its own audio (its priming and lead-in are the
    // samples before presentation time zero, which the command line does not drop for fragmented
    // files), joined with the concat filter, encoded once with the same settings.
    std::string command = "ffmpeg -nostdin -y -v error";
    std::string graph;
    for (int k = 0; k < count; ++k) {
        command += " -i " + files[static_cast<std::size_t>(k)].string();
        const std::int64_t skip = (k > 0 ? kLeadIn : 0) + 1024;
        graph += "[" + std::to_string(k) + ":a]atrim=start_sample=" + std::to_string(skip) +
                 ":end_sample=" + std::to_string(skip + length) + ",asetpts=N/SR/TB[a" + std::to_string(k) + "];";
    }
    for (int k = 0; k < count; ++k) graph += "[a" + std::to_string(k) + "]";
    graph += "concat=n=" + std::to_string(count) + ":v=0:a=1[out]";
    command += " -filter_complex \"" + graph + "\" -map \"[out]\" -c:a aac -b:a 32k -ar 16000 -ac 1 " +
               (dir / "ffmpeg.m4a").string();
    started = Clock::now();
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

    const auto ours = measure(dir / "ours.m4a", oursSeconds, joins);
    const auto copied = measure(dir / "copied.m4a", copySeconds, joins);
    const auto theirs = measure(dir / "ffmpeg.m4a", ffmpegSeconds, joins);
    const std::int64_t expected = length * count;
    std::printf("joined %d × %d s = %lld s of audio\n", count, segmentSeconds, static_cast<long long>(expected / kRate));
    std::printf("  OrvanOffice join:         %7.2f s, %lld samples (%+lld), largest offset at a join %d samples (%.3f ms)\n",
                ours.seconds, static_cast<long long>(ours.length), static_cast<long long>(ours.length - expected),
                ours.largestOffset, ours.largestOffset * 1000.0 / kRate);
    std::printf("  ffmpeg command line join: %7.2f s, %lld samples (%+lld), largest offset at a join %d samples (%.3f ms)\n",
                theirs.seconds, static_cast<long long>(theirs.length), static_cast<long long>(theirs.length - expected),
                theirs.largestOffset, theirs.largestOffset * 1000.0 / kRate);
    std::printf("  (stream copy, not gapless: %5.2f s, %lld samples (%+lld), largest offset at a join %d samples (%.3f ms))\n",
                copied.seconds, static_cast<long long>(copied.length), static_cast<long long>(copied.length - expected),
                copied.largestOffset, copied.largestOffset * 1000.0 / kRate);
    std::printf("ratio (OrvanOffice / ffmpeg): %.2f\n", ours.seconds / theirs.seconds);
    return 0;
}
