#include "linux/ffmpeg/SwrAudioConverters.h"

#include "linux/ffmpeg/FfmpegObjects.h"
#include "recording/SystemAudioCapture.h"

namespace orvan {

namespace {

constexpr int kRate = SystemAudioCapture::kSampleRate;

class SwrConverter final : public AudioConverting {
public:
    explicit SwrConverter(ffmpeg::ResamplerPtr resampler) : resampler_(std::move(resampler)) {}
    std::optional<std::vector<float>> convert(const void* samples, std::size_t frames, std::size_t capacity) override {
        std::vector<float> out(capacity);
        auto* outPlane = reinterpret_cast<std::uint8_t*>(out.data());
        const auto* inPlane = static_cast<const std::uint8_t*>(samples);
        const int converted = swr_convert(resampler_.get(), &outPlane, static_cast<int>(capacity), &inPlane,
                                          static_cast<int>(frames));
        if (converted < 0) return std::nullopt;
        out.resize(static_cast<std::size_t>(converted));
        return out;
    }

private:
    ffmpeg::ResamplerPtr resampler_;
};

}  // namespace

std::unique_ptr<AudioConverting> SwrAudioConverters::make(const CaptureFormat& input) {
    if (input.channels < 1 || input.sampleRate <= 0 || !input.interleaved) return nullptr;
    AVChannelLayout inLayout{};
    AVChannelLayout outLayout{};
    av_channel_layout_default(&inLayout, input.channels);
    av_channel_layout_default(&outLayout, 1);
    SwrContext* raw = nullptr;
    const AVSampleFormat inFormat = input.kind == SampleKind::float32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
    const int status = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, kRate, &inLayout, inFormat,
                                           input.sampleRate, 0, nullptr);
    ffmpeg::ResamplerPtr resampler(raw);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (status < 0 || !resampler || swr_init(resampler.get()) < 0) return nullptr;
    return std::make_unique<SwrConverter>(std::move(resampler));
}

}  // namespace orvan
