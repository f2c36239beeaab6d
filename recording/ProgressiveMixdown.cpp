#include "recording/ProgressiveMixdown.h"

#include <algorithm>

#include "platform/SystemLog.h"
#include "recording/SystemAudioCapture.h"

namespace orvan {

ProgressiveMixdown::ProgressiveMixdown(std::filesystem::path dir, std::shared_ptr<AudioFileWriters> writers,
                                       std::shared_ptr<EchoCancellers> echo, std::uint64_t marginFrames)
    : dir_(std::move(dir)), writers_(std::move(writers)), echo_(std::move(echo)), margin_(marginFrames) {}

void ProgressiveMixdown::written(std::uint64_t frame, std::size_t count) {
    newest_ = std::max(newest_, frame + count);
    if (mixer_ && frame < mixer_->read()) {
        // What was encoded no longer matches the tracks: from the start again, a second at a time,
        // with an echo canceller that starts afresh too.
        systemLog("SystemAudioCapture: a late buffer reached the encoded part; encoding again from the start");
        mixer_.reset();
    }
}

void ProgressiveMixdown::advance() {
    if (failed_ || newest_ < margin_) return;
    const std::uint64_t until = newest_ - margin_;
    if (until < mixed() + RawTrackMixer::blockFrames) return;
    if (!mixer_) {
        auto opened = RawTrackMixer::open(dir_, *writers_, echo_.get());
        if (const auto* error = std::get_if<SystemError>(&opened)) {
            systemLog("SystemAudioCapture: encoding while recording failed: " + error->description);
            failed_ = true;
            return;
        }
        mixer_ = std::move(std::get<std::unique_ptr<RawTrackMixer>>(opened));
    }
    if (auto error = mixer_->mixUntil(until, 1)) {
        systemLog("SystemAudioCapture: encoding while recording failed: " + error->description);
        failed_ = true;
        mixer_.reset();
    }
}

std::variant<std::filesystem::path, CaptureError, SystemError> ProgressiveMixdown::finish() {
    if (!mixer_) return SystemAudioCapture::finalize(dir_, *writers_, echo_.get());
    auto mixer = std::move(mixer_);
    if (auto error = mixer->mixUntil(RawTrackMixer::framesIn(dir_))) {
        // The tracks are all there: one more try, as a whole.
        systemLog("SystemAudioCapture: encoding the end failed: " + error->description);
        mixer.reset();
        return SystemAudioCapture::finalize(dir_, *writers_, echo_.get());
    }
    return mixer->finish();
}

}  // namespace orvan
