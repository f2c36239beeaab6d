#include "recording/StreamClock.h"

#include <algorithm>
#include <cmath>

namespace orvan {

namespace {

// The share of the measured offset taken away per window: all of it at once would overshoot, since
// the readings are averaged over a window that lies half a window in the past.
constexpr double kOffsetGain = 0.5;

// Cubic (Catmull-Rom) interpolation between b and c at 0 <= t < 1; exactly b at t = 0.
float interpolate(float a, float b, float c, float d, double t) {
    const double ab = static_cast<double>(a);
    const double bb = static_cast<double>(b);
    const double cb = static_cast<double>(c);
    const double db = static_cast<double>(d);
    return static_cast<float>(
        bb + 0.5 * t * (cb - ab + t * (2.0 * ab - 5.0 * bb + 4.0 * cb - db + t * (3.0 * (bb - cb) + db - ab))));
}

}  // namespace

StreamClock::StreamClock(double anchor, Options options) : options_(options), anchor_(anchor) {}

void StreamClock::observe(std::uint64_t inputFrame, double capturedAt) {
    if (!options_.mend) return;
    const double rate = options_.rate;
    const double seconds = static_cast<double>(inputFrame) / rate;
    // Where that sample belongs on the timeline, and where the stretching puts it now.
    const double target = (capturedAt - anchor_) * rate;
    const double placed = static_cast<double>(outputFrames_) + (static_cast<double>(inputFrame) - position_) * ratio_;
    if (window_.count == 0) window_.firstSeconds = seconds;
    ++window_.count;
    window_.seconds += seconds;
    window_.implied += capturedAt - seconds;
    window_.error += target - placed;
    if (seconds - window_.firstSeconds >= options_.window) reanchor();
}

void StreamClock::reanchor() {
    const double count = static_cast<double>(window_.count);
    history_.push_back({window_.seconds / count, window_.implied / count});
    if (history_.size() > options_.baseline + 1) history_.pop_front();
    // The device's clock against the monotonic one: how fast the implied anchor moves per second of
    // samples. A fast device (more samples per second) makes it move back.
    double slope = 0;
    if (history_.size() >= 2) {
        slope = (history_.back().implied - history_.front().implied) /
                (history_.back().seconds - history_.front().seconds);
    }
    const double offset = window_.error / count;
    const double rate = std::clamp(slope, -options_.mostCorrection, options_.mostCorrection);
    // A device that drifts fast builds up its offset fast: it is taken back as fast as it drifts.
    const double mostTakeBack = std::max(options_.mostOffsetCorrection, std::abs(rate));
    const double takeBack = kOffsetGain * offset / (options_.window * options_.rate);
    ratio_ = 1.0 + rate + std::clamp(takeBack, -mostTakeBack, mostTakeBack);
    window_ = Window{};
}

std::vector<float> StreamClock::place(const float* samples, std::size_t frames) {
    input_.insert(input_.end(), samples, samples + frames);
    inputFrames_ += frames;
    std::vector<float> out;
    out.reserve(frames + frames / 16 + 2);
    const double step = 1.0 / ratio_;
    const auto at = [this](std::int64_t index) {
        // Before the first sample: the first sample.
        const auto clamped = std::max<std::int64_t>(index, static_cast<std::int64_t>(base_));
        return input_[static_cast<std::size_t>(clamped - static_cast<std::int64_t>(base_))];
    };
    // Each output needs the two input samples after the one it starts from.
    while (position_ + 2.0 < static_cast<double>(inputFrames_)) {
        const double whole = std::floor(position_);
        const auto index = static_cast<std::int64_t>(whole);
        out.push_back(interpolate(at(index - 1), at(index), at(index + 1), at(index + 2), position_ - whole));
        position_ += step;
    }
    outputFrames_ += out.size();
    // Keep what the next outputs still need: from one sample before the next position on.
    const auto keepFrom = static_cast<std::uint64_t>(std::max(0.0, std::floor(position_) - 1.0));
    if (keepFrom > base_) {
        const auto drop = std::min<std::uint64_t>(keepFrom - base_, input_.size());
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(drop));
        base_ += drop;
    }
    return out;
}

}  // namespace orvan
