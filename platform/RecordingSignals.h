#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

namespace orvan {

// What a running recording tells while it records, shared by the capture (which writes it from its
// own thread), the recorder (which watches the microphone and the disk) and the popup's meters. The
// capture's part costs a running maximum per input and nothing else; whoever reads swaps it to zero.
class RecordingSignals {
public:
    enum class Input { microphone = 0, systemAudio = 1 };
    // −60 dBFS: quieter than this the microphone counts as hearing nothing.
    static constexpr float kHeardLevel = 0.001f;

    // On the capture's thread: a block of samples of `input`, as they are recorded.
    void heard(Input input, const float* samples, std::size_t count) {
        float peak = 0;
        for (std::size_t i = 0; i < count; ++i) peak = std::fmax(peak, std::fabs(samples[i]));
        auto& level = peaks_[static_cast<std::size_t>(input)];
        float seen = level.load(std::memory_order_relaxed);
        while (peak > seen && !level.compare_exchange_weak(seen, peak, std::memory_order_relaxed)) {
        }
        if (input == Input::microphone && peak >= kHeardLevel) microphoneHeard_.store(true, std::memory_order_relaxed);
    }
    // The loudest sample of `input` since the last call: the meters, at most ten times a second.
    float takePeak(Input input) {
        return peaks_[static_cast<std::size_t>(input)].exchange(0.0f, std::memory_order_relaxed);
    }
    // Whether the microphone reached the heard level since the last call: the silence rule.
    bool takeMicrophoneHeard() { return microphoneHeard_.exchange(false, std::memory_order_relaxed); }

    // From the sound server: the microphone being recorded is muted there.
    void setMicrophoneMuted(bool muted) { microphoneMuted_.store(muted, std::memory_order_relaxed); }
    bool microphoneMuted() const { return microphoneMuted_.load(std::memory_order_relaxed); }

    // A write to the recording's files failed. Only the first since `reset` reaches the listener; the
    // writer has stopped writing by then.
    void writeFailed(const std::string& description) {
        if (failed_.exchange(true)) return;
        std::function<void(const std::string&)> listener;
        {
            std::lock_guard lock(mutex_);
            listener = listener_;
        }
        if (listener) listener(description);
    }
    void setWriteFailureListener(std::function<void(const std::string&)> listener) {
        std::lock_guard lock(mutex_);
        listener_ = std::move(listener);
    }

    // A new recording: nothing heard, nothing failed, not muted until the capture says so.
    void reset() {
        for (auto& peak : peaks_) peak.store(0.0f, std::memory_order_relaxed);
        microphoneHeard_.store(false);
        microphoneMuted_.store(false);
        failed_.store(false);
    }

private:
    std::array<std::atomic<float>, 2> peaks_{};
    std::atomic<bool> microphoneHeard_ = false;
    std::atomic<bool> microphoneMuted_ = false;
    std::atomic<bool> failed_ = false;
    std::mutex mutex_;
    std::function<void(const std::string&)> listener_;
};

}  // namespace orvan
