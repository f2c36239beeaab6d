#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace orvan {

// Places one capture stream's samples on the timeline of the monotonic clock, at 16 000 samples per
// second. The stream is anchored once (when its sample 0 was captured); after that its samples are
// counted. A device's clock is never exactly the computer's: a USB headset and HDMI speakers drift
// apart by a few hundred milliseconds per hour. So the stream's timing readings ("the next sample
// was captured at ...") are collected, and once per window the stream is re-anchored: the samples are
// stretched or squeezed by a hair (cubic interpolation) so that the count follows the monotonic clock
// again. The track has neither gaps nor overlaps, and at an exact clock nothing changes: every output
// sample is an input sample.
class StreamClock {
public:
    struct Options {
        int rate = 16000;
        // Seconds of samples whose readings are averaged before each re-anchoring.
        double window = 5.0;
        // How many windows back the rate of the device's clock is measured over.
        std::size_t baseline = 12;
        // The most the samples are stretched or squeezed to follow the device's clock rate, as a fraction.
        double mostCorrection = 0.02;
        // The most they are stretched or squeezed on top of that to take back an offset. An offset is
        // mostly a misread anchor (a device just woken reports its latency wrong for a few seconds),
        // not drift: taken back slowly it stays unheard, where a few per cent are a change of pitch.
        double mostOffsetCorrection = 0.001;
        // Without the mend the stream is timed by its sample count alone (for comparison).
        bool mend = true;
    };

    StreamClock(double anchor, Options options);

    // A timing reading: the input sample `inputFrame` (the next one to be read) was captured at
    // `capturedAt` seconds of the monotonic clock.
    void observe(std::uint64_t inputFrame, double capturedAt);
    // The next input samples, as the timeline samples they become. The first of them is output frame
    // `outputFrames()` as it was before the call, at `anchor() + outputFrames() / rate` seconds.
    std::vector<float> place(const float* samples, std::size_t frames);

    double anchor() const { return anchor_; }
    std::uint64_t outputFrames() const { return outputFrames_; }
    // Output samples per input sample now.
    double ratio() const { return ratio_; }

private:
    void reanchor();

    Options options_;
    double anchor_;
    double ratio_ = 1.0;

    // The stretching: input samples from `base_` on that are still needed, and the input position
    // (in samples from the stream's start) of the next output sample.
    std::vector<float> input_;
    std::uint64_t base_ = 0;
    double position_ = 0;
    std::uint64_t inputFrames_ = 0;
    std::uint64_t outputFrames_ = 0;

    // The readings of the current window.
    struct Window {
        std::size_t count = 0;
        double firstSeconds = 0;
        double seconds = 0;  // sums over the readings
        double implied = 0;  // when sample 0 was captured, as each reading implies
        double error = 0;    // output frames the timeline is behind where the reading puts it
    } window_;
    struct Mean {
        double seconds;
        double implied;
    };
    std::deque<Mean> history_;
};

}  // namespace orvan
