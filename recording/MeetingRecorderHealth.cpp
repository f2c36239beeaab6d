// The recorder's side of its recordings' health: what it watches with, and a failed write.
#include "recording/MeetingRecorder.h"
#include "recording/SystemAudioCapture.h"

namespace orvan {

void MeetingRecorder::watchHealth() {
    health_ = std::make_unique<RecordingHealthWatch>(
        *queue_, RecordingHealthWatch::Ports{
                     .signals = ports_.signals,
                     .freeSpace = ports_.freeSpace,
                     .changed = [this](const RecordingHealth& health) {
                         if (ports_.healthChanged) onMainLoop([changed = ports_.healthChanged, health] { changed(health); });
                     }});
    if (!ports_.signals) return;
    std::weak_ptr<MeetingRecorder> weak = weak_from_this();
    ports_.signals->setWriteFailureListener([weak](const std::string& description) {
        auto self = weak.lock();
        if (!self) return;
        self->queue_->async([recorder = self.get(), description] { recorder->writeFailed(description); });
    });
}

void MeetingRecorder::writeFailed(const std::string& description) {
    if (!sessionDir_ || finalizing_ || writeFailed_) return;
    writeFailed_ = true;
    // The segment's file keeps what was encoded before; no rotation starts another one.
    stopRecorder();
    if (rotationTimer_) rotationTimer_->cancel();
    rotationTimer_.reset();
    health_->writeFailed(description);
}

std::uint64_t MeetingRecorder::bytesPerSecond() const {
    if (capture_) {
        // Two raw tracks, and the finished file encoded beside them.
        return 2 * sizeof(float) * SystemAudioCapture::kSampleRate +
               static_cast<std::uint64_t>(SystemAudioCapture::kFinishedSettings.bitRate / 8);
    }
    // The segments, and at the stop the joined file beside them.
    return 2 * static_cast<std::uint64_t>(SegmentSettings{}.encoderBitRate / 8);
}

}  // namespace orvan
