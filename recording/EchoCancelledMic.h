#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/EchoCanceller.h"

namespace orvan {

// The microphone track with the echo of the system track taken out, handed out in order from the
// start of the timeline. The canceller answers late, so both tracks are read that much ahead and the
// result stays on the system track's timeline, sample for sample.
//
// Where the system track has been silent for longer than any echo lasts there is nothing to cancel:
// those frames pass by the canceller as they are, at no cost. It is shown neither stream meanwhile,
// so to it the silence simply was shorter, and what it learnt of the echo's path still holds.
class EchoCancelledMic {
public:
    // Fills `system` and `mic` with both tracks' frames [frame, frame + count), silence past their ends.
    using ReadTracks = std::function<void(std::uint64_t frame, float* system, float* mic, std::size_t count)>;

    // Quieter than one step of 16-bit sound: no echo of it can be heard.
    static constexpr float kSilence = 1.0f / 32768;
    // One second of 10 ms frames: longer than an echo path and the room's ringing together.
    static constexpr std::size_t kEchoFrames = 100;

    EchoCancelledMic(std::unique_ptr<EchoCancelling> canceller, ReadTracks read);

    // The microphone's next `count` frames without the echo.
    void next(float* mic, std::size_t count);
    // How far the tracks have been read.
    std::uint64_t read() const { return fed_; }

private:
    void feed();

    std::unique_ptr<EchoCancelling> canceller_;
    ReadTracks read_;
    std::size_t latency_;
    std::uint64_t fed_ = 0;          // the next frame of the tracks to read
    std::size_t beforeStart_;        // results still to drop: they come before the timeline's start
    std::vector<float> ready_;       // results not handed out yet, in timeline order
    // The microphone held back by the canceller's latency: its last `latency_` samples, then the frame
    // being fed. Its start is what a frame passed by hands out.
    std::vector<float> line_;
    std::size_t quietFrames_ = kEchoFrames;  // since the system track last sounded
    std::size_t stale_ = 0;          // leading results of the canceller that predate a pass-by
};

}  // namespace orvan
