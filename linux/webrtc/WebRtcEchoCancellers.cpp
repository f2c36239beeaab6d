#include "linux/webrtc/WebRtcEchoCancellers.h"

#include <array>

#include <webrtc/modules/audio_processing/include/audio_processing.h>

namespace orvan {

namespace {

constexpr int kRate = 16000;
// The canceller works on 64-sample blocks inside each 10 ms frame and hands every sample back this
// much later (measured on the 0.3 library: 7 ms).
constexpr std::size_t kLatency = 112;
// Where on the tracks' timeline the echo is looked for first: with the long filter this covers echoes
// from about 25 to 155 ms at once (the speakers' and microphone's buffers); the canceller moves
// there by itself for others, after some seconds of sound.
constexpr int kExpectedEchoMs = 80;

class WebRtcEchoCanceller final : public EchoCancelling {
public:
    explicit WebRtcEchoCanceller(std::unique_ptr<webrtc::AudioProcessing> processing)
        : processing_(std::move(processing)) {}

    bool process(const float* played, float* heard) override {
        const webrtc::StreamConfig mono(kRate, 1);
        const float* const reverse[] = {played};
        float* const reverseOut[] = {scratch_.data()};
        if (processing_->ProcessReverseStream(reverse, mono, mono, reverseOut) != webrtc::AudioProcessing::kNoError) {
            return false;
        }
        processing_->set_stream_delay_ms(kExpectedEchoMs);
        const float* const in[] = {heard};
        float* const out[] = {heard};
        return processing_->ProcessStream(in, mono, mono, out) == webrtc::AudioProcessing::kNoError;
    }
    std::size_t latency() const override { return kLatency; }

private:
    std::unique_ptr<webrtc::AudioProcessing> processing_;
    std::array<float, kFrameSamples> scratch_{};  // the far end as the canceller passes it on; unused
};

}  // namespace

std::unique_ptr<EchoCancelling> WebRtcEchoCancellers::make() {
    webrtc::Config config;
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    std::unique_ptr<webrtc::AudioProcessing> processing(webrtc::AudioProcessing::Create(config));
    if (!processing) return nullptr;
    webrtc::ProcessingConfig streams;
    for (auto& stream : streams.streams) stream = webrtc::StreamConfig(kRate, 1);
    if (processing->Initialize(streams) != webrtc::AudioProcessing::kNoError) return nullptr;
    // Every other part starts switched off; only the echo canceller is turned on. The lowest
    // suppression keeps the user's voice best where both sides speak at once.
    auto* echo = processing->echo_cancellation();
    if (echo->enable_drift_compensation(false) != webrtc::AudioProcessing::kNoError ||
        echo->set_suppression_level(webrtc::EchoCancellation::kLowSuppression) != webrtc::AudioProcessing::kNoError ||
        echo->Enable(true) != webrtc::AudioProcessing::kNoError) {
        return nullptr;
    }
    return std::make_unique<WebRtcEchoCanceller>(std::move(processing));
}

}  // namespace orvan
