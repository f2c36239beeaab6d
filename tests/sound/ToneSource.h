#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace orvan::testing {

// One continuous sine: samples [from, from + count) of it, so that consecutive pieces join into the
// same tone without a break.
inline std::vector<float> tone(double frequency, std::int64_t from, std::int64_t count, int sampleRate = 16000,
                               float amplitude = 0.5f) {
    std::vector<float> samples(static_cast<std::size_t>(count));
    const double step = 2 * std::numbers::pi * frequency / sampleRate;
    for (std::int64_t i = 0; i < count; ++i) {
        samples[static_cast<std::size_t>(i)] =
            amplitude * static_cast<float>(std::sin(step * static_cast<double>(from + i)));
    }
    return samples;
}

}  // namespace orvan::testing
