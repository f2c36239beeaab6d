#include "recording/RecordingHealth.h"

#include <algorithm>
#include <system_error>

namespace orvan {

namespace {

constexpr std::chrono::seconds kTick{1};

}  // namespace

void RecordingHealthWatch::begin(const std::filesystem::path& dir, std::uint64_t bytesPerSecond) {
    end();
    dir_ = dir;
    bytesPerSecond_ = bytesPerSecond;
    paused_ = false;
    lastHeard_ = queue_.clock().now();
    if (ports_.signals) (void)ports_.signals->takeMicrophoneHeard();
    checkDisk();
    timer_ = queue_.scheduleRepeating(kTick, kTick, [this] { tick(); });
}

void RecordingHealthWatch::setPaused(bool paused) {
    if (!watching() || paused == paused_) return;
    paused_ = paused;
    // Quiet from the resume on, not from before the pause.
    lastHeard_ = queue_.clock().now();
    if (ports_.signals) (void)ports_.signals->takeMicrophoneHeard();
    if (paused) {
        RecordingHealth health = health_;
        health.microphoneSilent = false;
        publish(health);
    }
}

void RecordingHealthWatch::writeFailed(const std::string& description) {
    if (!watching()) return;
    timer_->cancel();
    timer_.reset();
    RecordingHealth health = health_;
    health.writeFailure = description;
    publish(health);
}

void RecordingHealthWatch::end() {
    if (timer_) timer_->cancel();
    timer_.reset();
    health_ = RecordingHealth{};
}

void RecordingHealthWatch::tick() {
    if (!watching()) return;
    const Clock::Time now = queue_.clock().now();
    if (now - lastDiskCheck_ >= kDiskInterval) checkDisk();
    if (!watching() || paused_ || !ports_.signals) return;
    if (ports_.signals->takeMicrophoneHeard()) lastHeard_ = now;
    RecordingHealth health = health_;
    health.microphoneSilent = ports_.signals->microphoneMuted() || now - lastHeard_ >= kSilenceLimit;
    publish(health);
}

void RecordingHealthWatch::checkDisk() {
    lastDiskCheck_ = queue_.clock().now();
    // Writes into a removed directory go on without an error, into files nobody can find any more.
    std::error_code error;
    if (!std::filesystem::exists(dir_, error) && !error) {
        const std::string gone = std::make_error_code(std::errc::no_such_file_or_directory).message();
        // The recorder hears it as it hears any failed write, and stops writing.
        if (ports_.signals) ports_.signals->writeFailed(gone);
        else writeFailed(gone);
        return;
    }
    if (!ports_.freeSpace) return;
    const auto available = ports_.freeSpace->availableBytes(dir_);
    if (!available) return;
    RecordingHealth health = health_;
    health.diskLow = *available / std::max<std::uint64_t>(bytesPerSecond_, 1) <
                     static_cast<std::uint64_t>(kDiskReserve.count());
    publish(health);
}

void RecordingHealthWatch::publish(RecordingHealth health) {
    if (health == health_) return;
    health_ = std::move(health);
    if (ports_.changed) ports_.changed(health_);
}

}  // namespace orvan
