#include "recording/SystemAudioCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/PrivateFiles.h"
#include "platform/SystemLog.h"
#include "recording/RecordingFiles.h"

namespace orvan {

namespace fs = std::filesystem;

using recording_files::itemExists;

std::mutex& SystemAudioCapture::mixdownLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<EchoCancellers> SystemAudioCapture::echoCancellation(const SystemAudioCapturePorts& ports) {
    if (ports.defaults && ports.defaults->string(kEchoCancellationKey) == "false") return nullptr;
    return ports.echoCancellers;
}

SystemAudioCapture::Mixed SystemAudioCapture::finalize(const fs::path& dir, AudioFileWriters& writers,
                                                       EchoCancellers* echo) {
    std::lock_guard guard(mixdownLock());

    const fs::path finished = dir / kFinishedName;
    if (itemExists(finished)) return finished;

    const std::uint64_t total = RawTrackMixer::framesIn(dir);
    if (total < 1) return CaptureError::empty();
    auto opened = RawTrackMixer::open(dir, writers, echo);
    if (const auto* error = std::get_if<SystemError>(&opened)) return *error;
    auto& mixer = *std::get<std::unique_ptr<RawTrackMixer>>(opened);
    if (auto error = mixer.mixUntil(total)) return *error;
    auto mixed = mixer.finish();
    if (std::holds_alternative<fs::path>(mixed)) RawTrackMixer::removeTracks(dir);
    return mixed;
}

// ---- Raw tracks ------------------------------------------------------------------------------------

std::variant<std::unique_ptr<RawTrack>, SystemError> RawTrack::create(const fs::path& file) {
    const int handle = private_files::open(file, O_WRONLY | O_TRUNC);
    if (handle < 0) return SystemError{std::system_category().message(errno)};
    return std::unique_ptr<RawTrack>(new RawTrack(handle));
}

RawTrack::~RawTrack() { close(); }

std::optional<SystemError> RawTrack::write(std::uint64_t frame, const std::vector<float>& samples) {
    if (handle_ < 0) return SystemError{std::system_category().message(EBADF)};
    const auto offset = static_cast<off_t>(frame * sizeof(float));
    if (::lseek(handle_, offset, SEEK_SET) < 0) return SystemError{std::system_category().message(errno)};
    const std::string_view bytes(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(float));
    if (const auto error = private_files::writeAll(handle_, bytes)) return SystemError{error.message()};
    return std::nullopt;
}

void RawTrack::close() {
    if (handle_ < 0) return;
    (void)::fsync(handle_);
    (void)::close(handle_);
    handle_ = -1;
}

// ---- The capture -----------------------------------------------------------------------------------

std::variant<std::shared_ptr<SystemAudioCapture>, SystemError> SystemAudioCapture::create(const fs::path& dir,
                                                                                          SystemAudioCapturePorts ports) {
    auto system = RawTrack::create(dir / kSystemTrackName);
    if (const auto* error = std::get_if<SystemError>(&system)) return *error;
    auto mic = RawTrack::create(dir / kMicTrackName);
    if (const auto* error = std::get_if<SystemError>(&mic)) return *error;
    return std::shared_ptr<SystemAudioCapture>(
        new SystemAudioCapture(dir, std::move(ports), std::move(std::get<std::unique_ptr<RawTrack>>(system)),
                               std::move(std::get<std::unique_ptr<RawTrack>>(mic))));
}

SystemAudioCapture::SystemAudioCapture(fs::path dir, SystemAudioCapturePorts ports, std::unique_ptr<RawTrack> system,
                                       std::unique_ptr<RawTrack> mic)
    : dir_(std::move(dir)),
      ports_(std::move(ports)),
      queue_(std::make_shared<SerialQueue>(ports_.applicationIdentifier + ".capture", ports_.clock)),
      system_(std::move(system)),
      mic_(std::move(mic)),
      progressive_(std::make_unique<ProgressiveMixdown>(dir_, ports_.writers, echoCancellation(ports_))) {}

SystemAudioCapture::~SystemAudioCapture() {
    if (queue_->isCurrent()) {
        // Let go by the last buffer's work on the queue: the queue cannot wait for itself, so it and
        // the stream end on a thread of their own once that work is done. Nothing else is queued:
        // the stream's buffers no longer reach a capture.
        std::thread([queue = std::move(queue_), stream = std::move(stream_)]() mutable {
            stream.reset();
            queue.reset();
        }).detach();
        return;
    }
    // The queue goes first: nothing may run on it once the tracks are gone.
    queue_.reset();
}

void SystemAudioCapture::attach(std::shared_ptr<CaptureStream> stream) {
    std::lock_guard guard(streamMutex_);
    stream_ = std::move(stream);
}

void SystemAudioCapture::handle(const CapturedBuffer& buffer) {
    if (buffer.type != CaptureOutputType::systemAudio && buffer.type != CaptureOutputType::microphone) return;
    if (!buffer.valid || !buffer.presentationTime || !std::isfinite(*buffer.presentationTime)) return;
    const double time = *buffer.presentationTime;
    // Moves during a pause too: the pause is measured on the stream's own clock.
    lastPTS_ = time;
    if (paused_ || writeFailed_) return;

    const auto samples = convert(buffer);
    if (!samples || samples->empty()) return;
    // The first buffer that gives samples, of either stream, is time zero for both tracks.
    if (!origin_) origin_ = time;
    // To the nearest frame, not truncated: a stream's buffers are stamped sample by sample, so
    // consecutive buffers land on consecutive frames however the seconds round.
    const double frame = std::round(std::max(0.0, time - *origin_ - pausedTotal_) * kSampleRate);
    if (frame >= kLongest * kSampleRate) return;
    auto& track = buffer.type == CaptureOutputType::systemAudio ? system_ : mic_;
    if (!track) return;
    if (auto error = track->write(static_cast<std::uint64_t>(frame), *samples)) {
        writeFailed(*error);
        return;
    }
    if (progressive_) {
        progressive_->written(static_cast<std::uint64_t>(frame), samples->size());
        progressive_->advance();
    }
}

std::optional<std::vector<float>> SystemAudioCapture::convert(const CapturedBuffer& buffer) {
    if (!buffer.format || buffer.format->sampleRate <= 0) return std::nullopt;
    if (buffer.frames == 0 || buffer.samples == nullptr) return std::nullopt;
    auto found = converters_.find(buffer.type);
    if (found == converters_.end() || !(found->second.input == *buffer.format)) {
        auto made = ports_.converters->make(*buffer.format);
        if (!made) return std::nullopt;
        found = converters_.insert_or_assign(buffer.type, Converter{*buffer.format, std::move(made)}).first;
    }
    // A little headroom over the exact resampled length, for what the resampler held back before.
    const std::size_t capacity =
        static_cast<std::size_t>(static_cast<double>(buffer.frames) * kSampleRate / buffer.format->sampleRate) + 64;
    return found->second.converter->convert(buffer.samples, buffer.frames, capacity);
}

void SystemAudioCapture::settleStream() {
    std::shared_ptr<CaptureStream> stream;
    {
        std::lock_guard guard(streamMutex_);
        stream = stream_;
    }
    if (stream) stream->settle();
}

void SystemAudioCapture::pause() {
    settleStream();
    queue_->sync([this] { pauseTimeline(); });
}

void SystemAudioCapture::resume() {
    settleStream();
    queue_->sync([this] { resumeTimeline(); });
}

void SystemAudioCapture::pauseTimeline() {
    if (paused_) return;
    paused_ = true;
    pausedFrom_ = lastPTS_;
}

void SystemAudioCapture::resumeTimeline() {
    if (!paused_) return;
    paused_ = false;
    // Whole frames, so the timeline after the pause keeps every stream's own sample grid.
    if (pausedFrom_ && lastPTS_) {
        pausedTotal_ += std::round(std::max(0.0, *lastPTS_ - *pausedFrom_) * kSampleRate) / kSampleRate;
    }
    pausedFrom_.reset();
}

void SystemAudioCapture::streamStopped(const std::string& description) {
    systemLog("SystemAudioCapture stopped: " + description);
    if (ports_.notifications) ports_.notifications->post(notification_names::kCaptureFailed, description);
}

void SystemAudioCapture::writeFailed(const SystemError& error) {
    writeFailed_ = true;
    systemLog("RawTrack write failed: " + error.description);
    closeTracks();
    if (ports_.signals) ports_.signals->writeFailed(error.description);
}

void SystemAudioCapture::closeTracks() {
    if (system_) system_->close();
    if (mic_) mic_->close();
}

void SystemAudioCapture::stop(std::function<void(std::variant<fs::path, RecordingFailure>)> done) {
    std::shared_ptr<CaptureStream> stream;
    {
        std::lock_guard guard(streamMutex_);
        stream = std::move(stream_);
        stream_.reset();
    }
    auto self = shared_from_this();
    // The mix-down blocks for the whole encode: never on the queue or the sound server's thread.
    auto finish = [self, done = std::move(done)] {
        std::thread([self, done] {
            std::unique_ptr<ProgressiveMixdown> progressive;
            self->queue_->sync([&] {
                self->closeTracks();
                progressive = std::move(self->progressive_);
            });
            SystemAudio::Finalized mixed = RecordingFailure(SystemError{"mix-down failed"});
            try {
                // Most of the file was encoded while recording: only the tail is left.
                mixed = forRecorder(progressive ? progressive->finish()
                                         : finalize(self->dir_, *self->ports_.writers,
                                                    echoCancellation(self->ports_).get()));
            } catch (const std::system_error& error) {
                // A failing disk fails the stop; the raw tracks stay for "pending".
                mixed = RecordingFailure(SystemError{error.code().message()});
            }
            if (std::holds_alternative<SystemAudio::NoSound>(mixed)) {
                done(RecordingFailure(CaptureError::empty().asSystemError()));
            } else if (const auto* file = std::get_if<fs::path>(&mixed)) {
                RawTrackMixer::setTracksAside(self->dir_);
                done(*file);
                RawTrackMixer::removeTracks(self->dir_);
            } else {
                done(std::get<RecordingFailure>(mixed));
            }
        }).detach();
    };
    if (stream) {
        stream->stop(finish);
    } else {
        finish();
    }
}

SystemAudio::Finalized SystemAudioCapture::forRecorder(const Mixed& mixed) {
    if (const auto* file = std::get_if<fs::path>(&mixed)) return *file;
    if (const auto* capture = std::get_if<CaptureError>(&mixed)) {
        if (capture->code() == CaptureError::Code::empty) return SystemAudio::NoSound{};
        return RecordingFailure(capture->asSystemError());
    }
    return RecordingFailure(std::get<SystemError>(mixed));
}

}  // namespace orvan
