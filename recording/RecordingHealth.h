#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/FreeSpace.h"
#include "platform/RecordingSignals.h"
#include "platform/SerialQueue.h"

namespace orvan {

// Whether the running recording is still recording what the user thinks it records.
struct RecordingHealth {
    static constexpr const char* kMicrophoneSilentText = "マイクの音が届いていません";
    static constexpr const char* kDiskLowText = "ディスクの空きが少なくなっています";
    static constexpr const char* kWriteFailedText = "ディスクに書き込めないため録音を止めました";

    // The microphone has heard nothing for a while, or it is muted at the sound server.
    bool microphoneSilent = false;
    // The recordings' file system takes only a few more minutes of this recording.
    bool diskLow = false;
    // A write failed and the recording's files were closed: the system's description.
    std::optional<std::string> writeFailure;

    bool healthy() const { return !microphoneSilent && !diskLow && !writeFailure; }
    friend bool operator==(const RecordingHealth&, const RecordingHealth&) = default;
};

// The rules behind RecordingHealth, on the recorder's queue and its clock: once a second the
// microphone's signal, once a minute (and as the recording begins) the free space. Reports every
// change through `changed`, on the queue.
class RecordingHealthWatch {
public:
    // The microphone may be quiet this long (nobody speaking) before it counts as silent.
    static constexpr std::chrono::seconds kSilenceLimit{20};
    static constexpr std::chrono::seconds kDiskInterval{60};
    // Less free space than this much more recording is low.
    static constexpr std::chrono::seconds kDiskReserve{600};

    struct Ports {
        std::shared_ptr<RecordingSignals> signals;  // none: the microphone is not watched
        std::shared_ptr<FreeSpace> freeSpace;       // none: the disk is not watched
        std::function<void(const RecordingHealth&)> changed;
    };

    RecordingHealthWatch(SerialQueue& queue, Ports ports) : queue_(queue), ports_(std::move(ports)) {}
    ~RecordingHealthWatch() { end(); }
    RecordingHealthWatch(const RecordingHealthWatch&) = delete;
    RecordingHealthWatch& operator=(const RecordingHealthWatch&) = delete;

    // Everything below on the queue.
    // A recording into `dir` has begun; it writes about `bytesPerSecond` to that file system.
    void begin(const std::filesystem::path& dir, std::uint64_t bytesPerSecond);
    // Paused, the microphone is not expected to hear anything.
    void setPaused(bool paused);
    // The recording's files were closed after a failed write: nothing is watched any more.
    void writeFailed(const std::string& description);
    // The recording is over; what it was is forgotten, without a report.
    void end();
    bool watching() const { return timer_ != nullptr; }

private:
    void tick();
    void checkDisk();
    void publish(RecordingHealth health);

    SerialQueue& queue_;
    Ports ports_;
    std::shared_ptr<SerialQueue::Timer> timer_;
    std::filesystem::path dir_;
    std::uint64_t bytesPerSecond_ = 0;
    bool paused_ = false;
    Clock::Time lastHeard_{};
    Clock::Time lastDiskCheck_{};
    RecordingHealth health_;
};

}  // namespace orvan
