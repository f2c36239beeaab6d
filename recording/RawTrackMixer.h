#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "platform/AudioFileWriter.h"
#include "platform/EchoCanceller.h"
#include "platform/SystemError.h"
#include "recording/CaptureError.h"
#include "recording/EchoCancelledMic.h"

namespace orvan {

// The one way two raw tracks ("system.f32", "mic.f32") become the two-channel finished file: read
// from the start, one second at a time, clamped, with silence wherever a track has nothing, into
// "meeting.partial.m4a". The whole mix-down after a recording and the one that follows a recording
// as it goes both run through it, so they hand the encoder the very same samples. With an echo
// canceller the second channel is the microphone without the echo of the first.
class RawTrackMixer {
public:
    // Replaces any "meeting.partial.m4a" in `dir` with a new one; the writer's error when it cannot.
    static std::variant<std::unique_ptr<RawTrackMixer>, SystemError> open(const std::filesystem::path& dir,
                                                                           AudioFileWriters& writers,
                                                                           EchoCancellers* echo = nullptr);
    ~RawTrackMixer();
    RawTrackMixer(const RawTrackMixer&) = delete;
    RawTrackMixer& operator=(const RawTrackMixer&) = delete;

    // Encodes the timeline from where it stands up to `frame`, in blocks of at most `blockFrames`
    // (at most `maxBlocks` of them); what the tracks hold at that moment is what is encoded.
    std::optional<SystemError> mixUntil(std::uint64_t frame, std::uint64_t maxBlocks = UINT64_MAX);
    // Ends the encode. Below the silence threshold everywhere, the partial file goes (no sound at
    // all); otherwise it becomes "meeting.m4a". The raw tracks stay either way.
    std::variant<std::filesystem::path, CaptureError, SystemError> finish();
    // Deletes the raw tracks of `dir`, also ones set aside; errors are of no use by then.
    static void removeTracks(const std::filesystem::path& dir);
    // Renames the raw tracks out of the way at once: freeing hours of samples takes a moment, which
    // a stop spends after it has handed the file over.
    static void setTracksAside(const std::filesystem::path& dir);

    std::uint64_t mixed() const { return mixed_; }
    // How far the tracks were read: a little past `mixed()` where the echo canceller reads ahead.
    std::uint64_t read() const { return echo_ ? std::max(mixed_, echo_->read()) : mixed_; }
    // The loudest clamped sample so far, over both channels.
    float peak() const { return peak_; }

    // How long the timeline of `dir`'s tracks is: the longer track, in whole frames.
    static std::uint64_t framesIn(const std::filesystem::path& dir);
    static constexpr std::uint64_t blockFrames = 16000;  // one second per write

private:
    RawTrackMixer(std::filesystem::path dir, int system, int mic, std::unique_ptr<AudioFileWriting> writer);
    float fill(int track, float* channel, std::uint64_t from, std::size_t count) const;
    void closeTracks();

    std::filesystem::path dir_;
    int system_ = -1;  // read handles; -1 for a track that is not there
    int mic_ = -1;
    std::unique_ptr<AudioFileWriting> writer_;
    std::uint64_t mixed_ = 0;
    float peak_ = 0;
    std::vector<float> block_;  // one second of both channels, reused
    std::unique_ptr<EchoCancelledMic> echo_;
};

}  // namespace orvan
