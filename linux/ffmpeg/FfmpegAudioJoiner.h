#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/AudioJoiner.h"

namespace orvan {

// Joins audio files with FFmpeg: each file is decoded, trimmed to its own audio by its timestamps
// (the encoder's priming before presentation time zero, the padding after its duration), and the
// pieces are encoded once, back to back, into AAC in an MPEG-4 audio file. Holes inside a file are
// filled with silence and a file that decodes short is padded, so every piece takes exactly its
// duration and later pieces never shift.
class FfmpegAudioJoiner final : public AudioJoiner {
public:
    struct Output {
        int sampleRate = 16000;
        int bitRate = 32000;
        // Segments of one encoder are joined by their packets, without encoding them again.
        bool joinPackets = true;
    };

    FfmpegAudioJoiner() : FfmpegAudioJoiner(Output{}) {}
    explicit FfmpegAudioJoiner(Output output);

    std::optional<MediaTime> audioDuration(const std::filesystem::path& file) override;
    std::optional<Failure> join(const std::vector<Piece>& pieces, const std::filesystem::path& output) override;

private:
    Output output_;
};

}  // namespace orvan
