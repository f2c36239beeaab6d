#pragma once

#include <cstddef>
#include <memory>

namespace orvan {

// Takes the echo of what the computer played out of what the microphone heard, both 32-bit float,
// 16 000 Hz, mono, on one timeline, one 10 ms frame at a time. What it learnt of the echo's path
// carries from frame to frame.
class EchoCancelling {
public:
    static constexpr std::size_t kFrameSamples = 160;

    virtual ~EchoCancelling() = default;
    // `played` and `heard` hold one frame each of the same moment. `heard` is replaced by the
    // microphone without the echo, `latency()` samples late: it ends with the start of this frame's
    // microphone and begins with the end of the frames before. False when the frame could not be
    // processed; `heard` is then of no use.
    virtual bool process(const float* played, float* heard) = 0;
    virtual std::size_t latency() const = 0;
};

class EchoCancellers {
public:
    virtual ~EchoCancellers() = default;
    // A canceller that has learnt nothing yet; none when it cannot be made.
    virtual std::unique_ptr<EchoCancelling> make() = 0;
};

}  // namespace orvan
