#include "recording/RawTrackMixer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "platform/SystemLog.h"
#include "recording/SystemAudioCapture.h"

namespace orvan {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSystemTrack = SystemAudioCapture::kSystemTrackName;
constexpr const char* kMicTrack = SystemAudioCapture::kMicTrackName;
constexpr const char* kPartial = SystemAudioCapture::kPartialName;

std::uint64_t framesOf(const fs::path& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0 : size / sizeof(float);
}

}  // namespace

std::uint64_t RawTrackMixer::framesIn(const fs::path& dir) {
    return std::max(framesOf(dir / kSystemTrack), framesOf(dir / kMicTrack));
}

std::variant<std::unique_ptr<RawTrackMixer>, SystemError> RawTrackMixer::open(const fs::path& dir,
                                                                               AudioFileWriters& writers,
                                                                               EchoCancellers* echo) {
    const fs::path partial = dir / kPartial;
    std::error_code ignored;
    fs::remove(partial, ignored);
    auto created = writers.create(partial, SystemAudioCapture::kFinishedSettings);
    if (const auto* error = std::get_if<std::string>(&created)) return SystemError{*error};
    // A track that cannot be opened is silence.
    const int system = ::open((dir / kSystemTrack).c_str(), O_RDONLY | O_CLOEXEC);
    const int mic = ::open((dir / kMicTrack).c_str(), O_RDONLY | O_CLOEXEC);
    std::unique_ptr<RawTrackMixer> mixer(
        new RawTrackMixer(dir, system, mic, std::move(std::get<std::unique_ptr<AudioFileWriting>>(created))));
    // Without a system track there is no echo to take out: the microphone stays as it was heard.
    auto canceller = echo != nullptr && system >= 0 ? echo->make() : nullptr;
    if (echo != nullptr && system >= 0 && !canceller) {
        systemLog("SystemAudioCapture: no echo canceller; the microphone is kept as it was heard");
    }
    if (canceller) {
        auto* self = mixer.get();
        self->echo_ = std::make_unique<EchoCancelledMic>(
            std::move(canceller), [self](std::uint64_t frame, float* played, float* heard, std::size_t count) {
                self->peak_ = std::max({self->peak_, self->fill(self->system_, played, frame, count),
                                        self->fill(self->mic_, heard, frame, count)});
            });
    }
    return mixer;
}

RawTrackMixer::RawTrackMixer(fs::path dir, int system, int mic, std::unique_ptr<AudioFileWriting> writer)
    : dir_(std::move(dir)), system_(system), mic_(mic), writer_(std::move(writer)) {}

RawTrackMixer::~RawTrackMixer() { closeTracks(); }

void RawTrackMixer::closeTracks() {
    if (system_ >= 0) ::close(system_);
    if (mic_ >= 0) ::close(mic_);
    system_ = mic_ = -1;
}

void RawTrackMixer::removeTracks(const fs::path& dir) {
    std::error_code ignored;
    for (const char* name : {kSystemTrack, kMicTrack}) {
        fs::remove(dir / name, ignored);
        fs::remove(dir / (std::string(".") + name + ".done"), ignored);
    }
}

void RawTrackMixer::setTracksAside(const fs::path& dir) {
    std::error_code ignored;
    for (const char* name : {kSystemTrack, kMicTrack}) {
        fs::rename(dir / name, dir / (std::string(".") + name + ".done"), ignored);
    }
}

float RawTrackMixer::fill(int track, float* channel, std::uint64_t from, std::size_t count) const {
    std::size_t read = 0;
    if (track >= 0) {
        // By position, not sequentially: the tracks may still be growing while this reads them.
        auto* bytes = reinterpret_cast<char*>(channel);
        const std::size_t wanted = count * sizeof(float);
        std::size_t got = 0;
        while (got < wanted) {
            const ssize_t n = ::pread(track, bytes + got, wanted - got,
                                      static_cast<off_t>(from * sizeof(float) + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        read = got / sizeof(float);  // a trailing partial sample is not a sample
    }
    float peak = 0;
    for (std::size_t i = 0; i < read; ++i) {
        const float value = std::clamp(channel[i], -1.0f, 1.0f);
        channel[i] = value;
        peak = std::max(peak, value < 0 ? -value : value);
    }
    std::fill(channel + read, channel + count, 0.0f);
    return peak;
}

std::optional<SystemError> RawTrackMixer::mixUntil(std::uint64_t frame, std::uint64_t maxBlocks) {
    block_.resize(2 * blockFrames);
    float* channels[2] = {block_.data(), block_.data() + blockFrames};
    for (std::uint64_t blocks = 0; mixed_ < frame && blocks < maxBlocks; ++blocks) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(frame - mixed_, blockFrames));
        peak_ = std::max(peak_, fill(system_, channels[0], mixed_, chunk));
        if (echo_) {
            echo_->next(channels[1], chunk);  // notes the microphone's peak as it reads
        } else {
            peak_ = std::max(peak_, fill(mic_, channels[1], mixed_, chunk));
        }
        if (auto error = writer_->write(channels, chunk)) return SystemError{*error};
        mixed_ += chunk;
    }
    return std::nullopt;
}

std::variant<fs::path, CaptureError, SystemError> RawTrackMixer::finish() {
    if (!writer_) return SystemError{"file already finished"};
    auto closed = writer_->close();
    writer_.reset();
    closeTracks();
    if (closed) return SystemError{*closed};
    const fs::path partial = dir_ / kPartial;
    std::error_code error;
    if (peak_ < SystemAudioCapture::kSilenceThreshold) {
        fs::remove(partial, error);
        return CaptureError::empty();
    }
    const fs::path finished = dir_ / SystemAudioCapture::kFinishedName;
    fs::rename(partial, finished, error);
    if (error) return SystemError{error.message()};
    return finished;
}

}  // namespace orvan
