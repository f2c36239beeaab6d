#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/AudioFileWriter.h"
#include "linux/ffmpeg/FfmpegObjects.h"

namespace orvan {

// AAC in a plain (not fragmented) MPEG-4 audio file, with the edit list that hides the encoder's
// priming. Memory stays at one encoder frame plus one caller block.
class FfmpegAudioFileWriter final : public AudioFileWriting {
public:
    static std::variant<std::unique_ptr<AudioFileWriting>, std::string> create(const std::filesystem::path& file,
                                                                               const AudioFileSettings& settings);
    ~FfmpegAudioFileWriter() override = default;

    std::optional<std::string> write(const float* const* channels, std::size_t frames) override;
    std::optional<std::string> close() override;

private:
    FfmpegAudioFileWriter(std::filesystem::path file, const AudioFileSettings& settings);
    std::optional<std::string> open();
    // Encodes whole encoder frames from the FIFO (and, when `all`, the short rest).
    std::optional<std::string> encodeWaiting(bool all);
    std::optional<std::string> send(AVFrame* frame);

    std::filesystem::path file_;
    AudioFileSettings settings_;
    ffmpeg::AacOutput aac_;  // the file, its encoder and its one stream
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::FifoPtr fifo_;
    std::int64_t encoded_ = 0;
    bool closed_ = false;
};

class FfmpegAudioFileWriters final : public AudioFileWriters {
public:
    std::variant<std::unique_ptr<AudioFileWriting>, std::string> create(const std::filesystem::path& file,
                                                                        const AudioFileSettings& settings) override {
        return FfmpegAudioFileWriter::create(file, settings);
    }
};

}  // namespace orvan
