#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "linux/ffmpeg/FfmpegObjects.h"

namespace orvan {

// Encodes float samples to AAC into an MPEG-4 audio file (".m4a") that survives a crash: the file is
// fragmented MPEG-4 with one-second fragments, each written and flushed to the file as soon as it is
// complete, so a killed process loses at most about the last second. The edit list that hides the
// encoder's priming is written with the first fragment, so readers still find where the audio
// begins. Not thread-safe: one caller at a time.
class FfmpegSegmentWriter {
public:
    struct Format {
        int sampleRate = 16000;
        int channels = 1;
        int bitRate = 32000;
    };

    // Creates the file at once; the error text when it cannot be created or the encoder cannot open.
    static std::variant<std::unique_ptr<FfmpegSegmentWriter>, std::string> create(const std::filesystem::path& file,
                                                                                  const Format& format);
    ~FfmpegSegmentWriter();
    FfmpegSegmentWriter(const FfmpegSegmentWriter&) = delete;
    FfmpegSegmentWriter& operator=(const FfmpegSegmentWriter&) = delete;

    // Audio that came just before this segment (the end of the previous one), for the encoder to
    // start from instead of from silence, so the segment's first samples sound as they would in the
    // middle of a recording. It is encoded before time zero and is no part of this segment's audio.
    // Only before the first `append`.
    void leadIn(const float* samples, std::size_t frames);
    // Interleaved samples, `frames` per channel. After a write error the rest is dropped.
    void append(const float* samples, std::size_t frames);
    // Takes back the newest samples that do not fill a whole encoder frame yet, so that the segment
    // ends on a frame boundary and the next one begins with them: segments cut so are joined by
    // their packets alone. Only before `finish`; never more than were appended.
    std::vector<float> takeUnencoded();
    // Samples per encoder frame, per channel.
    int frameSize() const { return aac_.encoder ? aac_.encoder->frame_size : 1024; }
    // Drains the encoder, ends and closes the file. Later calls change nothing and answer nothing.
    std::optional<std::string> finish();

    std::int64_t framesAppended() const { return appended_; }
    // The first error, after which nothing more is written.
    const std::optional<std::string>& error() const { return error_; }
    const std::filesystem::path& file() const { return file_; }

private:
    FfmpegSegmentWriter(std::filesystem::path file, const Format& format);
    std::optional<std::string> open();
    // Encodes every whole frame waiting (and, when `all`, the short rest).
    bool encodeWaiting(bool all);
    bool drainPackets();
    void fail(const std::string& what, int code);

    std::filesystem::path file_;
    Format format_;
    ffmpeg::AacOutput aac_;  // the file, its encoder and its one stream
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;
    std::vector<float> waiting_;  // interleaved, not yet encoded
    std::int64_t appended_ = 0;
    std::int64_t encoded_ = 0;
    bool headerWritten_ = false;
    bool finished_ = false;
    std::optional<std::string> error_;
};

}  // namespace orvan
