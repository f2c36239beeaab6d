#pragma once

// Owners for the FFmpeg objects the audio adapters use: each frees its object exactly once.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <optional>
#include <string>

namespace orvan::ffmpeg {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ResamplerDeleter {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
// Options handed to FFmpeg, which may replace the dictionary in place.
struct Dictionary {
    AVDictionary* value = nullptr;
    Dictionary() = default;
    ~Dictionary() { av_dict_free(&value); }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    void set(const char* key, const char* text) { av_dict_set(&value, key, text, 0); }
};
// An opened input: closes the demuxer and its file.
struct InputDeleter {
    void operator()(AVFormatContext* input) const { avformat_close_input(&input); }
};
// An output: closes its file (when opened) and frees the muxer.
struct OutputDeleter {
    void operator()(AVFormatContext* output) const {
        if (output->pb != nullptr && !(output->oformat->flags & AVFMT_NOFILE)) avio_closep(&output->pb);
        avformat_free_context(output);
    }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

// FFmpeg's own text for an error code.
inline std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// FFmpeg's own diagnostics would go to standard error; its errors reach us as return values instead.
void quietLogging();

// An AAC encoder and an "ipod" (m4a) output file with one audio stream, the file opened for
// writing; the header is the caller's to write, with its own muxer options.
struct AacOutput {
    OutputPtr output;
    CodecContextPtr encoder;
    AVStream* stream = nullptr;  // owned by output
};
// Fills `out`; the error's text when any step fails (what was made so far is freed with `out`).
std::optional<std::string> openAacOutput(const std::string& path, int sampleRate, int channels, int bitRate,
                                         AacOutput& out);

// avio_open() for writing, the file made private first (FFmpeg would create it 0666 less the umask
// and keeps the mode of a file that exists). An AVERROR code as avio_open() answers.
int openPrivateOutput(AVIOContext** pb, const std::string& path);

// Opens `path` for reading and finds its streams; nullptr and the error's text when it cannot.
InputPtr openInput(const std::string& path, std::string* error = nullptr);

}  // namespace orvan::ffmpeg
