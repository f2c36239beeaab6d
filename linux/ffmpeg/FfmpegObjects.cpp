#include "linux/ffmpeg/FfmpegObjects.h"

#include <mutex>

#include "platform/PrivateFiles.h"

namespace orvan::ffmpeg {

void quietLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

int openPrivateOutput(AVIOContext** pb, const std::string& path) {
    if (const auto error = private_files::create(path)) return AVERROR(error.value());
    return avio_open(pb, path.c_str(), AVIO_FLAG_WRITE);
}

InputPtr openInput(const std::string& path, std::string* error) {
    AVFormatContext* raw = nullptr;
    int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        if (error) *error = errorText(status);
        return nullptr;
    }
    InputPtr input(raw);
    status = avformat_find_stream_info(input.get(), nullptr);
    if (status < 0) {
        if (error) *error = errorText(status);
        return nullptr;
    }
    return input;
}

std::optional<std::string> openAacOutput(const std::string& path, int sampleRate, int channels, int bitRate,
                                         AacOutput& out) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) return std::string("AAC encoder not available");

    AVFormatContext* raw = nullptr;
    int status = avformat_alloc_output_context2(&raw, nullptr, "ipod", path.c_str());
    if (status < 0 || raw == nullptr) return errorText(status);
    out.output.reset(raw);

    out.encoder.reset(avcodec_alloc_context3(codec));
    if (!out.encoder) return errorText(AVERROR(ENOMEM));
    out.encoder->sample_rate = sampleRate;
    out.encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&out.encoder->ch_layout, channels);
    out.encoder->bit_rate = bitRate;
    out.encoder->time_base = AVRational{1, sampleRate};
    if (out.output->oformat->flags & AVFMT_GLOBALHEADER) out.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    status = avcodec_open2(out.encoder.get(), codec, nullptr);
    if (status < 0) return errorText(status);

    out.stream = avformat_new_stream(out.output.get(), nullptr);
    if (out.stream == nullptr) return errorText(AVERROR(ENOMEM));
    status = avcodec_parameters_from_context(out.stream->codecpar, out.encoder.get());
    if (status < 0) return errorText(status);
    out.stream->time_base = out.encoder->time_base;

    status = openPrivateOutput(&out.output->pb, path);
    if (status < 0) return errorText(status);
    return std::nullopt;
}

}  // namespace orvan::ffmpeg
