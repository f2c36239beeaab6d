#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <variant>

#include "platform/AudioFileWriter.h"
#include "platform/EchoCanceller.h"
#include "platform/SystemError.h"
#include "recording/CaptureError.h"
#include "recording/RawTrackMixer.h"

namespace orvan {

// The finished file, encoded from the raw tracks while the recording goes on, a safe margin behind
// the newest sample written: buffers that arrive late (a stream still settling its clock, a device
// just switched) land in the tracks before the encode reaches them, so "stop" has only the tail
// left. The raw tracks stay the record: a buffer placed where the encode already passed starts it
// over, and a failing encoder leaves the whole mix-down from the tracks to the end.
//
// Used on the capture's queue while recording, and by the stop once the tracks are closed.
class ProgressiveMixdown {
public:
    // Late buffers come at most a few seconds behind the newest (a stream holds its first seconds
    // until its clock settles); ten seconds is well clear of that and costs the stop little.
    static constexpr std::uint64_t kDefaultMarginFrames = 10 * RawTrackMixer::blockFrames;

    // Without `echo` the microphone is encoded as it was heard.
    ProgressiveMixdown(std::filesystem::path dir, std::shared_ptr<AudioFileWriters> writers,
                       std::shared_ptr<EchoCancellers> echo = nullptr, std::uint64_t marginFrames = kDefaultMarginFrames);

    // Frames [frame, frame + count) of a track were just written.
    void written(std::uint64_t frame, std::size_t count);
    // Encodes at most one second, once that second is a whole margin behind the newest frame.
    void advance();
    // After the tracks are closed: the tail, then the finished file as a whole mix-down answers it.
    std::variant<std::filesystem::path, CaptureError, SystemError> finish();

    // How far the encode has come.
    std::uint64_t mixed() const { return mixer_ ? mixer_->mixed() : 0; }

private:
    std::filesystem::path dir_;
    std::shared_ptr<AudioFileWriters> writers_;
    std::shared_ptr<EchoCancellers> echo_;
    std::uint64_t margin_;
    std::uint64_t newest_ = 0;  // the end of the furthest write
    std::unique_ptr<RawTrackMixer> mixer_;
    bool failed_ = false;
};

}  // namespace orvan
