#include "tests/support/AudioCheck.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvan::testing {

namespace {

std::string text(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

std::optional<DecodedAudio> decodeAudio(const std::filesystem::path& file, std::string* error, int channel) {
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* input = nullptr;
    int status = avformat_open_input(&input, file.c_str(), nullptr, nullptr);
    if (status < 0) {
        if (error) *error = text(status);
        return std::nullopt;
    }
    struct Closer {
        AVFormatContext*& input;
        AVCodecContext* decoder = nullptr;
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        ~Closer() {
            av_frame_free(&frame);
            av_packet_free(&packet);
            avcodec_free_context(&decoder);
            avformat_close_input(&input);
        }
    } closer{input};
    if ((status = avformat_find_stream_info(input, nullptr)) < 0) {
        if (error) *error = text(status);
        return std::nullopt;
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index < 0) {
        if (error) *error = "no audio stream";
        return std::nullopt;
    }
    AVStream* stream = input->streams[index];
    closer.decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(closer.decoder, stream->codecpar);
    closer.decoder->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    if ((status = avcodec_open2(closer.decoder, codec, nullptr)) < 0) {
        if (error) *error = text(status);
        return std::nullopt;
    }
    DecodedAudio audio;
    audio.sampleRate = closer.decoder->sample_rate;
    audio.channels = closer.decoder->ch_layout.nb_channels;
    if (channel < 0 || channel >= audio.channels) {
        if (error) *error = "no channel " + std::to_string(channel);
        return std::nullopt;
    }
    const AVRational samplesBase{1, audio.sampleRate};
    const std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const std::int64_t end = av_rescale_q(start + stream->duration, stream->time_base, samplesBase);

    auto takeFrames = [&] {
        while (avcodec_receive_frame(closer.decoder, closer.frame) == 0) {
            const std::int64_t first = av_rescale_q(closer.frame->pts, stream->time_base, samplesBase);
            const int channels = closer.frame->ch_layout.nb_channels;
            for (int i = 0; i < closer.frame->nb_samples; ++i) {
                const std::int64_t at = first + i;
                if (at < 0 || at >= end) continue;
                // One channel of float planar, as the AAC decoder gives it.
                const float value =
                    reinterpret_cast<const float*>(closer.frame->extended_data[channel < channels ? channel : 0])[i];
                if (static_cast<std::int64_t>(audio.samples.size()) < at) audio.samples.resize(static_cast<std::size_t>(at), 0.0f);
                if (static_cast<std::int64_t>(audio.samples.size()) == at) audio.samples.push_back(value);
            }
            av_frame_unref(closer.frame);
        }
    };
    while (av_read_frame(input, closer.packet) == 0) {
        if (closer.packet->stream_index == index) avcodec_send_packet(closer.decoder, closer.packet);
        av_packet_unref(closer.packet);
        takeFrames();
    }
    avcodec_send_packet(closer.decoder, nullptr);
    takeFrames();
    return audio;
}

std::complex<double> toneAt(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                            int sampleRate) {
    const double step = 2 * std::numbers::pi * frequency / sampleRate;
    std::complex<double> sum;
    for (std::size_t i = 0; i < count && from + i < samples.size(); ++i) {
        const double angle = step * static_cast<double>(from + i);
        sum += static_cast<double>(samples[from + i]) * std::complex<double>(std::cos(angle), -std::sin(angle));
    }
    return sum / static_cast<double>(count);
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    double energy = 0;
    std::size_t n = 0;
    for (std::size_t i = from; i < from + count && i < samples.size(); ++i, ++n) {
        energy += static_cast<double>(samples[i]) * static_cast<double>(samples[i]);
    }
    return n > 0 ? std::sqrt(energy / static_cast<double>(n)) : 0.0;
}

double toneShare(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                 int sampleRate) {
    const double level = rms(samples, from, count);
    if (level <= 0) return 0;
    // A sine of amplitude A has RMS A/√2 and |X| = A/2, so 2|X|² / RMS² is 1 for a pure tone.
    const double magnitude = std::abs(toneAt(samples, from, count, frequency, sampleRate));
    return std::min(1.0, 2 * magnitude * magnitude / (level * level));
}

ToneLevels toneLevels(const std::vector<float>& samples, double frequency, int sampleRate, std::size_t window,
                      std::size_t skipStart) {
    ToneLevels result;
    for (std::size_t from = skipStart; from + window <= samples.size(); from += window) {
        const double share = toneShare(samples, from, window, frequency, sampleRate);
        if (share < result.smallestShare) {
            result.smallestShare = share;
            result.smallestShareAt = from;
        }
        result.smallestRms = std::min(result.smallestRms, rms(samples, from, window));
    }
    return result;
}

double toneShiftAt(const std::vector<float>& samples, std::size_t at, double frequency, int sampleRate,
                   std::size_t window, std::size_t guard) {
    if (at < guard + window || at + guard + window > samples.size()) return 0;
    const auto before = toneAt(samples, at - guard - window, window, frequency, sampleRate);
    const auto after = toneAt(samples, at + guard, window, frequency, sampleRate);
    // toneAt measures against time zero, so an unbroken tone has the same phase in both windows; a
    // gap delays the later part, which lowers its phase.
    const double turn = std::remainder(std::arg(before) - std::arg(after), 2 * std::numbers::pi);
    return turn * sampleRate / (2 * std::numbers::pi * frequency);
}

}  // namespace orvan::testing
