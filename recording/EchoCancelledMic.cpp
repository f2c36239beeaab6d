#include "recording/EchoCancelledMic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

#include "platform/SystemLog.h"

namespace orvan {

namespace {

constexpr std::size_t kFrame = EchoCancelling::kFrameSamples;

}  // namespace

EchoCancelledMic::EchoCancelledMic(std::unique_ptr<EchoCancelling> canceller, ReadTracks read)
    : canceller_(std::move(canceller)),
      read_(std::move(read)),
      latency_(canceller_ ? canceller_->latency() : 0),
      beforeStart_(latency_),
      line_(latency_ + kFrame, 0.0f) {}

void EchoCancelledMic::next(float* mic, std::size_t count) {
    while (ready_.size() < count) feed();
    std::copy_n(ready_.begin(), count, mic);
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(count));
}

void EchoCancelledMic::feed() {
    std::array<float, kFrame> system{};
    read_(fed_, system.data(), line_.data() + latency_, kFrame);
    fed_ += kFrame;
    const bool sounds = std::any_of(system.begin(), system.end(), [](float s) { return std::abs(s) >= kSilence; });
    quietFrames_ = sounds ? 0 : std::min(quietFrames_ + 1, kEchoFrames);

    std::array<float, kFrame> out{};
    bool cancelled = false;
    if (canceller_ && quietFrames_ < kEchoFrames) {
        std::copy_n(line_.begin() + static_cast<std::ptrdiff_t>(latency_), kFrame, out.begin());
        cancelled = canceller_->process(system.data(), out.data());
        if (!cancelled) {
            systemLog("SystemAudioCapture: echo cancellation failed; the microphone is kept as it was heard");
            canceller_.reset();
        }
    }
    if (cancelled) {
        // What the canceller still held from before a pass-by went out with it already.
        const std::size_t stale = std::min(stale_, kFrame);
        std::copy_n(line_.begin(), stale, out.begin());
        stale_ -= stale;
        for (float& sample : out) sample = std::clamp(sample, -1.0f, 1.0f);
    } else {
        // Passed by, as late as the canceller would have answered.
        std::copy_n(line_.begin(), kFrame, out.begin());
        stale_ = latency_;
    }
    std::copy(line_.begin() + kFrame, line_.end(), line_.begin());

    const std::size_t early = std::min(beforeStart_, kFrame);
    beforeStart_ -= early;
    ready_.insert(ready_.end(), out.begin() + static_cast<std::ptrdiff_t>(early), out.end());
}

}  // namespace orvan
