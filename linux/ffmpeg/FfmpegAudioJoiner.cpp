#include "linux/ffmpeg/FfmpegAudioJoiner.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdint>
#include <string>

#include "linux/ffmpeg/AacPacketJoin.h"
#include "linux/ffmpeg/FfmpegObjects.h"
#include "platform/SystemLog.h"

namespace orvan {

using namespace ffmpeg;

namespace {

using Failure = AudioJoiner::Failure;
using Kind = AudioJoiner::Failure::Kind;

Failure failed(int code) { return Failure{Kind::failed, errorText(code)}; }

// Where a stream's audio lies, in its time base: from presentation time zero (or its later start)
// to its start plus duration. Priming before zero is not part of it.
struct Span {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

std::optional<Span> audioSpan(const AVFormatContext& input, const AVStream& stream) {
    const std::int64_t start = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
    std::int64_t duration = stream.duration;
    if (duration == AV_NOPTS_VALUE || duration <= 0) {
        if (input.duration == AV_NOPTS_VALUE || input.duration <= 0) return std::nullopt;
        duration = av_rescale_q(input.duration, AV_TIME_BASE_Q, stream.time_base);
    }
    return Span{std::max<std::int64_t>(start, 0), start + duration};
}

// The encoder side: samples in, AAC packets out to the file.
class Encoder {
public:
    std::optional<Failure> open(const std::filesystem::path& file, int sampleRate, int bitRate) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (codec == nullptr) return Failure{Kind::noTrack, {}};
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "ipod", file.c_str()) < 0 || raw == nullptr) {
            return Failure{Kind::noExportSession, {}};
        }
        output_.reset(raw);
        stream_ = avformat_new_stream(output_.get(), nullptr);
        if (stream_ == nullptr) return Failure{Kind::noTrack, {}};

        context_.reset(avcodec_alloc_context3(codec));
        if (!context_) return Failure{Kind::noExportSession, {}};
        context_->sample_rate = sampleRate;
        context_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&context_->ch_layout, 1);
        context_->bit_rate = bitRate;
        context_->time_base = AVRational{1, sampleRate};
        if (output_->oformat->flags & AVFMT_GLOBALHEADER) context_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(context_.get(), codec, nullptr) < 0) return Failure{Kind::noExportSession, {}};
        if (avcodec_parameters_from_context(stream_->codecpar, context_.get()) < 0) {
            return Failure{Kind::noExportSession, {}};
        }
        stream_->time_base = context_->time_base;

        int status = openPrivateOutput(&output_->pb, file.string());
        if (status < 0) return failed(status);
        // The edit list's length counts in the movie's time scale: at the default (milliseconds) the
        // file would claim up to 15 samples more than it holds.
        Dictionary options;
        options.set("movie_timescale", std::to_string(sampleRate).c_str());
        status = avformat_write_header(output_.get(), &options.value);
        if (status < 0) return failed(status);
        fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLT, 1, 1 << 14));
        frame_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
        if (!fifo_ || !frame_ || !packet_) return failed(AVERROR(ENOMEM));
        return std::nullopt;
    }

    std::optional<Failure> write(const float* samples, int count) {
        if (count <= 0) return std::nullopt;
        void* planes[] = {const_cast<float*>(samples)};
        if (av_audio_fifo_write(fifo_.get(), planes, count) < count) return failed(AVERROR(ENOMEM));
        return encodeWaiting(false);
    }

    std::optional<Failure> silence(std::int64_t count) {
        static const float zeros[4096] = {};
        while (count > 0) {
            const int chunk = static_cast<int>(std::min<std::int64_t>(count, 4096));
            if (auto failure = write(zeros, chunk)) return failure;
            count -= chunk;
        }
        return std::nullopt;
    }

    std::optional<Failure> finish() {
        if (auto failure = encodeWaiting(true)) return failure;
        int status = avcodec_send_frame(context_.get(), nullptr);
        if (status < 0) return failed(status);
        if (auto failure = drain()) return failure;
        status = av_write_trailer(output_.get());
        if (status < 0) return failed(status);
        status = avio_closep(&output_->pb);
        if (status < 0) return failed(status);
        return std::nullopt;
    }

    std::int64_t samplesIn() const { return pts_ + av_audio_fifo_size(fifo_.get()); }

private:
    std::optional<Failure> encodeWaiting(bool all) {
        const int frameSize = context_->frame_size;
        while (av_audio_fifo_size(fifo_.get()) >= frameSize || (all && av_audio_fifo_size(fifo_.get()) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(fifo_.get()));
            frame_->nb_samples = count;
            frame_->format = AV_SAMPLE_FMT_FLTP;
            frame_->sample_rate = context_->sample_rate;
            av_channel_layout_copy(&frame_->ch_layout, &context_->ch_layout);
            int status = av_frame_get_buffer(frame_.get(), 0);
            if (status < 0) return failed(status);
            // One channel: the planar and the packed layouts are the same.
            void* planes[] = {frame_->data[0]};
            if (av_audio_fifo_read(fifo_.get(), planes, count) < count) return failed(AVERROR(EIO));
            frame_->pts = pts_;
            pts_ += count;
            status = avcodec_send_frame(context_.get(), frame_.get());
            av_frame_unref(frame_.get());
            if (status < 0) return failed(status);
            if (auto failure = drain()) return failure;
        }
        return std::nullopt;
    }

    std::optional<Failure> drain() {
        for (;;) {
            const int status = avcodec_receive_packet(context_.get(), packet_.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return std::nullopt;
            if (status < 0) return failed(status);
            av_packet_rescale_ts(packet_.get(), context_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            const int written = av_interleaved_write_frame(output_.get(), packet_.get());
            if (written < 0) return failed(written);
        }
    }

    OutputPtr output_;
    CodecContextPtr context_;
    FifoPtr fifo_;
    FramePtr frame_;
    PacketPtr packet_;
    AVStream* stream_ = nullptr;  // owned by output_
    std::int64_t pts_ = 0;
};

// Decodes one piece and hands exactly its samples, at the output's rate, to the encoder.
class PieceReader {
public:
    PieceReader(Encoder& encoder, int outputRate) : encoder_(encoder), outputRate_(outputRate) {}

    std::optional<Failure> read(const AudioJoiner::Piece& piece) {
        std::string error;
        InputPtr input = openInput(piece.file.string(), &error);
        if (!input) return Failure{Kind::failed, error};
        const AVCodec* codec = nullptr;
        const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (index < 0 || codec == nullptr) return failed(index < 0 ? index : AVERROR_DECODER_NOT_FOUND);
        const AVStream& stream = *input->streams[index];
        const auto span = audioSpan(*input, stream);
        if (!span) return failed(AVERROR_INVALIDDATA);

        CodecContextPtr decoder(avcodec_alloc_context3(codec));
        if (!decoder) return failed(AVERROR(ENOMEM));
        int status = avcodec_parameters_to_context(decoder.get(), stream.codecpar);
        if (status < 0) return failed(status);
        // Priming is trimmed here, by timestamps, for every kind of file alike.
        decoder->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
        decoder->pkt_timebase = stream.time_base;
        status = avcodec_open2(decoder.get(), codec, nullptr);
        if (status < 0) return failed(status);
        inputRate_ = decoder->sample_rate;
        if (inputRate_ <= 0) return failed(AVERROR_INVALIDDATA);

        const AVRational sampleBase{1, inputRate_};
        next_ = av_rescale_q(span->begin, stream.time_base, sampleBase);
        // The piece's own duration decides how much it contributes, whatever the file holds.
        end_ = next_ + av_rescale_q(piece.duration.value, AVRational{1, piece.duration.timescale}, sampleBase);

        if (auto failure = prepareResampler(*decoder)) return failure;

        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame) return failed(AVERROR(ENOMEM));
        bool done = false;
        while (!done) {
            status = av_read_frame(input.get(), packet.get());
            if (status == AVERROR_EOF) break;
            if (status < 0) return failed(status);
            if (packet->stream_index != index) {
                av_packet_unref(packet.get());
                continue;
            }
            status = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            // A damaged packet costs its own samples only; the timestamps fill the hole with silence.
            if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_INVALIDDATA) return failed(status);
            if (auto failure = receive(*decoder, *frame, stream.time_base, done)) return failure;
        }
        if (!done) {
            (void)avcodec_send_packet(decoder.get(), nullptr);
            if (auto failure = receive(*decoder, *frame, stream.time_base, done)) return failure;
        }
        // A piece that decodes short still takes its whole duration.
        if (next_ < end_) {
            if (auto failure = emitSilence(end_ - next_)) return failure;
        }
        return flushResampler();
    }

private:
    std::optional<Failure> prepareResampler(const AVCodecContext& decoder) {
        const bool plainMono = decoder.ch_layout.nb_channels == 1 && inputRate_ == outputRate_ &&
                               (decoder.sample_fmt == AV_SAMPLE_FMT_FLTP || decoder.sample_fmt == AV_SAMPLE_FMT_FLT);
        if (plainMono) return std::nullopt;
        SwrContext* raw = nullptr;
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        AVChannelLayout input{};
        int status = av_channel_layout_copy(&input, &decoder.ch_layout);
        if (status < 0) return failed(status);
        status = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, outputRate_, &input, decoder.sample_fmt,
                                     inputRate_, 0, nullptr);
        av_channel_layout_uninit(&input);
        resampler_.reset(raw);
        if (status < 0) return failed(status);
        status = swr_init(resampler_.get());
        if (status < 0) return failed(status);
        return std::nullopt;
    }

    std::optional<Failure> receive(AVCodecContext& decoder, AVFrame& frame, AVRational timeBase, bool& done) {
        for (;;) {
            const int status = avcodec_receive_frame(&decoder, &frame);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return std::nullopt;
            if (status < 0) return failed(status);
            auto failure = take(frame, timeBase);
            av_frame_unref(&frame);
            if (failure) return failure;
            if (next_ >= end_) {
                done = true;
                return std::nullopt;
            }
        }
    }

    // Keeps the part of `frame` inside [next_, end_), after silence for any hole before it.
    std::optional<Failure> take(const AVFrame& frame, AVRational timeBase) {
        const std::int64_t timestamp = frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp
                                                                                     : frame.pts;
        const std::int64_t first = timestamp != AV_NOPTS_VALUE
                                       ? av_rescale_q(timestamp, timeBase, AVRational{1, inputRate_})
                                       : running_;
        const std::int64_t last = first + frame.nb_samples;
        running_ = last;
        if (first > next_) {
            if (auto failure = emitSilence(std::min(first, end_) - next_)) return failure;
        }
        const std::int64_t from = std::max(first, next_);
        const std::int64_t to = std::min(last, end_);
        if (to <= from) return std::nullopt;
        next_ = to;
        return emit(frame, static_cast<int>(from - first), static_cast<int>(to - from));
    }

    std::optional<Failure> emit(const AVFrame& frame, int offset, int count) {
        if (!resampler_) {
            // Mono float: one plane, planar or packed alike.
            const auto* samples = reinterpret_cast<const float*>(frame.extended_data[0]) + offset;
            return encoder_.write(samples, count);
        }
        const int bytesPerSample = av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame.format));
        const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame.format)) != 0;
        const int channels = frame.ch_layout.nb_channels;
        const uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
        for (int c = 0; c < (planar ? channels : 1) && c < AV_NUM_DATA_POINTERS; ++c) {
            planes[c] = frame.extended_data[c] + static_cast<std::ptrdiff_t>(offset) * bytesPerSample * (planar ? 1 : channels);
        }
        return convert(planes, count);
    }

    std::optional<Failure> emitSilence(std::int64_t count) {
        next_ += count;
        if (!resampler_) return encoder_.silence(count);
        // At the input's rate, so the resampler keeps its timing.
        return encoder_.silence(av_rescale(count, outputRate_, inputRate_));
    }

    std::optional<Failure> convert(const uint8_t** planes, int count) {
        const int capacity = swr_get_out_samples(resampler_.get(), count);
        if (capacity < 0) return failed(capacity);
        buffer_.resize(static_cast<std::size_t>(capacity) + 1);
        uint8_t* out[] = {reinterpret_cast<uint8_t*>(buffer_.data())};
        const int produced = swr_convert(resampler_.get(), out, capacity, planes, count);
        if (produced < 0) return failed(produced);
        return encoder_.write(buffer_.data(), produced);
    }

    std::optional<Failure> flushResampler() {
        if (!resampler_) return std::nullopt;
        return convert(nullptr, 0);
    }

    Encoder& encoder_;
    int outputRate_;
    int inputRate_ = 0;
    ResamplerPtr resampler_;
    std::vector<float> buffer_;
    std::int64_t next_ = 0;     // the next sample (at the input's rate) this piece owes the output
    std::int64_t end_ = 0;      // where the piece ends
    std::int64_t running_ = 0;  // for frames without a timestamp
};

}  // namespace

FfmpegAudioJoiner::FfmpegAudioJoiner(Output output) : output_(output) { quietLogging(); }

std::optional<MediaTime> FfmpegAudioJoiner::audioDuration(const std::filesystem::path& file) {
    InputPtr input = openInput(file.string());
    if (!input) return std::nullopt;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return std::nullopt;
    const AVStream& stream = *input->streams[index];
    const auto span = audioSpan(*input, stream);
    const int rate = stream.codecpar->sample_rate;
    if (!span || rate <= 0) return std::nullopt;
    const std::int64_t samples = av_rescale_q(span->end - span->begin, stream.time_base, AVRational{1, rate});
    return MediaTime{std::max<std::int64_t>(samples, 0), rate};
}

std::optional<AudioJoiner::Failure> FfmpegAudioJoiner::join(const std::vector<Piece>& pieces,
                                                            const std::filesystem::path& output) {
    // Segments of one recording join without decoding; anything else is decoded and encoded again.
    if (output_.joinPackets) {
        auto refusal = AacPacketJoin::join(pieces, output, output_.sampleRate);
        if (!refusal) return std::nullopt;
        systemLog("MeetingRecorder: joining by encoding again: " + *refusal);
    }
    Encoder encoder;
    if (auto failure = encoder.open(output, output_.sampleRate, output_.bitRate)) return failure;
    for (const auto& piece : pieces) {
        PieceReader reader(encoder, output_.sampleRate);
        if (auto failure = reader.read(piece)) return failure;
    }
    return encoder.finish();
}

}  // namespace orvan
