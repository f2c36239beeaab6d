#include "linux/ffmpeg/FfmpegAudioFileWriter.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace orvan {

using namespace ffmpeg;

std::variant<std::unique_ptr<AudioFileWriting>, std::string> FfmpegAudioFileWriter::create(
    const std::filesystem::path& file, const AudioFileSettings& settings) {
    quietLogging();
    std::unique_ptr<FfmpegAudioFileWriter> writer(new FfmpegAudioFileWriter(file, settings));
    if (auto error = writer->open()) return *error;
    return std::unique_ptr<AudioFileWriting>(std::move(writer));
}

FfmpegAudioFileWriter::FfmpegAudioFileWriter(std::filesystem::path file, const AudioFileSettings& settings)
    : file_(std::move(file)), settings_(settings) {}

std::optional<std::string> FfmpegAudioFileWriter::open() {
    if (auto error = ffmpeg::openAacOutput(file_.string(), settings_.sampleRate, settings_.channels, settings_.bitRate,
                                           aac_)) {
        return error;
    }
    int status = 0;

    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings_.channels, aac_.encoder->frame_size));
    if (!frame_ || !packet_ || !fifo_) return errorText(AVERROR(ENOMEM));

    Dictionary options;
    // Lengths in samples, not in the default milliseconds.
    options.set("movie_timescale", std::to_string(settings_.sampleRate).c_str());
    status = avformat_write_header(aac_.output.get(), &options.value);
    if (status < 0) return errorText(status);
    return std::nullopt;
}

std::optional<std::string> FfmpegAudioFileWriter::write(const float* const* channels, std::size_t frames) {
    if (closed_) return std::string("file already closed");
    if (frames == 0) return std::nullopt;
    auto* planes = const_cast<void**>(reinterpret_cast<const void* const*>(channels));
    const int written = av_audio_fifo_write(fifo_.get(), planes, static_cast<int>(frames));
    if (written < 0) return errorText(written);
    return encodeWaiting(false);
}

std::optional<std::string> FfmpegAudioFileWriter::encodeWaiting(bool all) {
    const int frameSize = aac_.encoder->frame_size;
    for (;;) {
        const int available = av_audio_fifo_size(fifo_.get());
        const int count = available < frameSize ? available : frameSize;
        if (count == 0 || (count < frameSize && !all)) return std::nullopt;
        frame_->nb_samples = count;
        frame_->format = aac_.encoder->sample_fmt;
        frame_->sample_rate = aac_.encoder->sample_rate;
        int status = av_channel_layout_copy(&frame_->ch_layout, &aac_.encoder->ch_layout);
        if (status >= 0) status = av_frame_get_buffer(frame_.get(), 0);
        if (status < 0) return errorText(status);
        status = av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), count);
        if (status < 0) {
            av_frame_unref(frame_.get());
            return errorText(status);
        }
        frame_->pts = encoded_;
        encoded_ += count;
        auto error = send(frame_.get());
        av_frame_unref(frame_.get());
        if (error) return error;
    }
}

std::optional<std::string> FfmpegAudioFileWriter::send(AVFrame* frame) {
    int status = avcodec_send_frame(aac_.encoder.get(), frame);
    if (status < 0) return errorText(status);
    for (;;) {
        status = avcodec_receive_packet(aac_.encoder.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return std::nullopt;
        if (status < 0) return errorText(status);
        av_packet_rescale_ts(packet_.get(), aac_.encoder->time_base, aac_.stream->time_base);
        packet_->stream_index = aac_.stream->index;
        status = av_interleaved_write_frame(aac_.output.get(), packet_.get());
        if (status < 0) return errorText(status);
    }
}

std::optional<std::string> FfmpegAudioFileWriter::close() {
    if (closed_) return std::nullopt;
    closed_ = true;
    if (auto error = encodeWaiting(true)) return error;
    if (auto error = send(nullptr)) return error;
    int status = av_write_trailer(aac_.output.get());
    if (status < 0) return errorText(status);
    status = avio_closep(&aac_.output->pb);
    if (status < 0) return errorText(status);
    return std::nullopt;
}

}  // namespace orvan
