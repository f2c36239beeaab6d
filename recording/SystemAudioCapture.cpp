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

#include "platform/SystemLog.h"

namespace orvan {

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kBlockFrames = SystemAudioCapture::kSampleRate;  // one second per write

// A raw track opened for reading; a file that cannot be opened has no handle and no frames.
struct TrackReader {
    FilePtr handle;
    std::uint64_t frames = 0;

    explicit TrackReader(const fs::path& path) : handle(std::fopen(path.c_str(), "rb")) {
        if (!handle) return;
        std::error_code error;
        const auto size = fs::file_size(path, error);
        if (!error) frames = size / sizeof(float);
    }

    // Fills `channel` with this track's frames [position, position + count), clamped; silence
    // where the track has nothing. Answers the loudest clamped value.
    float fill(float* channel, std::uint64_t position, std::size_t count) {
        std::size_t read = 0;
        if (handle && frames > position) {
            const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, frames - position));
            // Sequential: each call continues where the previous one ended.
            read = std::fread(channel, sizeof(float), wanted, handle.get());
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
};

bool itemExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace

std::mutex& SystemAudioCapture::mixdownLock() {
    static std::mutex lock;
    return lock;
}

SystemAudioCapture::Mixed SystemAudioCapture::finalize(const fs::path& dir, AudioFileWriters& writers) {
    std::lock_guard guard(mixdownLock());

    const fs::path finished = dir / kFinishedName;
    if (itemExists(finished)) return finished;

    TrackReader system(dir / kSystemTrackName);
    TrackReader mic(dir / kMicTrackName);
    const std::uint64_t total = std::max(system.frames, mic.frames);
    if (total < 1) return CaptureError::empty();

    const fs::path partial = dir / kPartialName;
    removeQuietly(partial);
    auto created = writers.create(partial, kFinishedSettings);
    if (const auto* error = std::get_if<std::string>(&created)) return SystemError{*error};
    auto writer = std::move(std::get<std::unique_ptr<AudioFileWriting>>(created));

    // The one buffer of the whole encode: memory stays the same however long the recording is.
    std::vector<float> block(2 * kBlockFrames);
    float* channels[2] = {block.data(), block.data() + kBlockFrames};
    float peak = 0;
    for (std::uint64_t position = 0; position < total;) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(total - position, kBlockFrames));
        peak = std::max(peak, system.fill(channels[0], position, chunk));
        peak = std::max(peak, mic.fill(channels[1], position, chunk));
        if (auto error = writer->write(channels, chunk)) return SystemError{*error};
        position += chunk;
    }
    if (auto error = writer->close()) return SystemError{*error};
    writer.reset();

    if (peak < kSilenceThreshold) {
        removeQuietly(partial);
        return CaptureError::empty();
    }
    std::error_code error;
    fs::rename(partial, finished, error);
    if (error) return SystemError{error.message()};
    removeQuietly(dir / kSystemTrackName);
    removeQuietly(dir / kMicTrackName);
    return finished;
}

// ---- Raw tracks ------------------------------------------------------------------------------------

std::variant<std::unique_ptr<RawTrack>, SystemError> RawTrack::create(const fs::path& file) {
    const int handle = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (handle < 0) return SystemError{std::system_category().message(errno)};
    return std::unique_ptr<RawTrack>(new RawTrack(handle));
}

RawTrack::~RawTrack() { close(); }

void RawTrack::write(std::uint64_t frame, const std::vector<float>& samples) {
    if (handle_ < 0) return;
    const auto offset = static_cast<off_t>(frame * sizeof(float));
    if (::lseek(handle_, offset, SEEK_SET) < 0) {
        systemLog("RawTrack write failed: " + std::system_category().message(errno));
        return;
    }
    const auto* bytes = reinterpret_cast<const char*>(samples.data());
    std::size_t left = samples.size() * sizeof(float);
    while (left > 0) {
        const ssize_t written = ::write(handle_, bytes, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            systemLog("RawTrack write failed: " + std::system_category().message(written < 0 ? errno : ENOSPC));
            return;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
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
      mic_(std::move(mic)) {}

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
    if (paused_) return;

    const auto samples = convert(buffer);
    if (!samples || samples->empty()) return;
    // The first buffer that gives samples, of either stream, is time zero for both tracks.
    if (!origin_) origin_ = time;
    // To the nearest frame, not truncated: a stream's buffers are stamped sample by sample, so
    // consecutive buffers land on consecutive frames however the seconds round.
    const double frame = std::round(std::max(0.0, time - *origin_ - pausedTotal_) * kSampleRate);
    if (frame >= kLongest * kSampleRate) return;
    auto& track = buffer.type == CaptureOutputType::systemAudio ? system_ : mic_;
    if (track) track->write(static_cast<std::uint64_t>(frame), *samples);
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
            self->queue_->sync([&] { self->closeTracks(); });
            SystemAudio::Finalized mixed = RecordingFailure(SystemError{"mix-down failed"});
            try {
                mixed = forRecorder(finalize(self->dir_, *self->ports_.writers));
            } catch (const std::system_error& error) {
                // A failing disk fails the stop; the raw tracks stay for "pending".
                mixed = RecordingFailure(SystemError{error.code().message()});
            }
            if (std::holds_alternative<SystemAudio::NoSound>(mixed)) {
                done(RecordingFailure(CaptureError::empty().asSystemError()));
            } else if (const auto* file = std::get_if<fs::path>(&mixed)) {
                done(*file);
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
