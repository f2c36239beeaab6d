#include "recording/MeetingRecorder.h"

#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/PrivateFiles.h"
#include "platform/SystemLog.h"
#include "recording/RecordingFiles.h"

namespace orvan {

namespace fs = std::filesystem;
using recording_files::failureOf;
using recording_files::removeQuietly;

namespace {

constexpr const char* kFallbackLog = "SystemAudioCapture unavailable, falling back to mic: ";

std::string segmentName(std::int64_t index) {
    char name[48];
    std::snprintf(name, sizeof name, "segment-%03" PRId64 ".m4a", index);
    return name;
}

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}
// Never destroyed: the recorder lives as long as the process.
std::optional<MeetingRecorderPorts>& sharedPorts() {
    static auto* ports = new std::optional<MeetingRecorderPorts>();
    return *ports;
}
std::shared_ptr<MeetingRecorder>& sharedRecorder() {
    static auto* recorder = new std::shared_ptr<MeetingRecorder>();
    return *recorder;
}

}  // namespace

// ---- Life cycle ------------------------------------------------------------------------------------

MeetingRecorder::MeetingRecorder(MeetingRecorderPorts ports)
    : ports_(std::move(ports)),
      queue_(std::make_unique<SerialQueue>(ports_.applicationIdentifier + ".recorder", ports_.clock)) {}

std::shared_ptr<MeetingRecorder> MeetingRecorder::create(MeetingRecorderPorts ports) {
    std::shared_ptr<MeetingRecorder> recorder(new MeetingRecorder(std::move(ports)));
    std::weak_ptr<MeetingRecorder> weak = recorder;
    recorder->ports_.interruptions->observe([weak](const AudioInterruption& interruption) {
        if (auto self = weak.lock()) self->handleInterruption(interruption);
    });
    recorder->watchHealth();
    return recorder;
}

void MeetingRecorder::configureShared(MeetingRecorderPorts ports) {
    std::lock_guard lock(sharedMutex());
    sharedPorts() = std::move(ports);
}

std::shared_ptr<MeetingRecorder> MeetingRecorder::shared() {
    std::lock_guard lock(sharedMutex());
    if (!sharedRecorder()) {
        if (!sharedPorts()) throw std::logic_error("MeetingRecorder::configureShared was not called");
        sharedRecorder() = create(*sharedPorts());
    }
    return sharedRecorder();
}

MeetingRecorder::~MeetingRecorder() {
    ports_.interruptions->observe({});
    if (ports_.signals) ports_.signals->setWriteFailureListener({});
    // Queued work and jobs use the fields: let them finish while everything still exists.
    jobs_.waitForAll();
    if (!queue_->isCurrent()) {
        queue_->sync([this] {
            if (rotationTimer_) rotationTimer_->cancel();
            health_->end();
        });
        queue_.reset();
    }
}

void MeetingRecorder::onMainLoop(std::function<void()> completion) { ports_.mainLoop->post(std::move(completion)); }

bool MeetingRecorder::isRecording() {
    return queue_->sync([this] { return sessionDir_.has_value(); });
}

// ---- Commands --------------------------------------------------------------------------------------

void MeetingRecorder::start(Done done) {
    std::weak_ptr<MeetingRecorder> weak = weak_from_this();
    ports_.permission->request([weak, done = std::move(done)](bool granted) {
        auto self = weak.lock();
        if (!self) return;
        auto* recorder = self.get();
        if (!granted) {
            recorder->onMainLoop([done] { done(RecorderError::permissionDenied()); });
            return;
        }
        recorder->queue_->async([recorder, done] {
            if (recorder->sessionDir_ || recorder->starting_) {
                recorder->onMainLoop([done] { done(RecorderError::alreadyRecording()); });
                return;
            }
            recorder->starting_ = true;
            recorder->writeFailed_ = false;
            if (recorder->ports_.signals) recorder->ports_.signals->reset();
            // On the queue, once the start has an answer.
            auto finish = [recorder, done](std::optional<RecordingFailure> failure) {
                recorder->finishStarting();
                recorder->onMainLoop([done, failure] { done(failure); });
                // After the answer: what the health says belongs to a recording already started.
                if (!failure && recorder->sessionDir_) {
                    recorder->health_->begin(*recorder->sessionDir_, recorder->bytesPerSecond());
                }
            };
            if (!recorder->ports_.systemAudio->supported()) {
                finish(recorder->beginMicrophoneRecording());
                return;
            }
            recorder->startWithSystemAudio([recorder, finish](std::variant<bool, RecordingFailure> answer) {
                if (const auto* failure = std::get_if<RecordingFailure>(&answer)) {
                    finish(*failure);
                } else if (std::get<bool>(answer)) {
                    finish(std::nullopt);
                } else {
                    finish(recorder->beginMicrophoneRecording());
                }
            });
        });
    });
}

void MeetingRecorder::startWithSystemAudio(std::function<void(std::variant<bool, RecordingFailure>)> answer) {
    std::weak_ptr<MeetingRecorder> weak = weak_from_this();
    auto made = makeSessionDirectory();
    if (const auto* failure = std::get_if<RecordingFailure>(&made)) {
        answer(*failure);
        return;
    }
    const fs::path dir = std::get<fs::path>(made);
    // Only the start is asked for here; its answer comes later, without holding the queue.
    ports_.systemAudio->start(dir, [weak, dir, answer](SystemAudio::Started started) {
        auto self = weak.lock();
        if (!self) return;
        auto* recorder = self.get();
        if (auto* capture = std::get_if<std::shared_ptr<SystemAudioCapturing>>(&started)) {
            recorder->queue_->async([recorder, capture = *capture, answer] {
                recorder->capture_ = capture;
                answer(true);
            });
            return;
        }
        recorder->queue_->async([recorder, dir, failure = std::get<RecordingFailure>(started), answer] {
            recorder->sessionDir_.reset();
            removeQuietly(dir);
            systemLog(kFallbackLog + failure.description());
            recorder->onMainLoop([alerts = recorder->ports_.alerts] { presentAlert(alerts.get()); });
            answer(false);
        });
    });
}

void MeetingRecorder::pause(Done done) {
    queue_->async([this, done = std::move(done)] {
        if (ports_.systemAudio->supported() && capture_) {
            capture_->pause();
            health_->setPaused(true);
            onMainLoop([done] { done(std::nullopt); });
            return;
        }
        auto failure = pauseMicrophone();
        if (!failure) health_->setPaused(true);
        onMainLoop([done, failure] { done(failure); });
    });
}

void MeetingRecorder::resume(Done done) {
    queue_->async([this, done = std::move(done)] {
        if (ports_.systemAudio->supported() && capture_) {
            capture_->resume();
            health_->setPaused(false);
            onMainLoop([done] { done(std::nullopt); });
            return;
        }
        auto failure = resumeMicrophone();
        if (sessionDir_) health_->setPaused(paused_);
        onMainLoop([done, failure] { done(failure); });
    });
}

void MeetingRecorder::stop(PathDone done) {
    std::weak_ptr<MeetingRecorder> weak = weak_from_this();
    queue_->async([this, weak, done = std::move(done)] {
        // The start has made the session but not yet said how it records: stop it once it has.
        if (starting_) {
            stopsAfterStart_.push_back(done);
            return;
        }
        auto capture = ports_.systemAudio->supported() ? takeCapture() : nullptr;
        if (capture) {
            capture->stop([weak, done](std::variant<fs::path, RecordingFailure> result) {
                auto self = weak.lock();
                if (!self) return;
                auto* recorder = self.get();
                recorder->queue_->async([recorder, done, result] {
                    recorder->releaseSession();
                    if (const auto* file = std::get_if<fs::path>(&result)) {
                        recorder->onMainLoop([done, path = file->string()] { done(path); });
                    } else {
                        recorder->onMainLoop([done, failure = std::get<RecordingFailure>(result)] { done(failure); });
                    }
                });
            });
            return;
        }
        auto stopped = stopMicrophone();
        if (const auto* failure = std::get_if<RecordingFailure>(&stopped)) {
            onMainLoop([done, failure = *failure] { done(failure); });
            return;
        }
        const fs::path dir = std::get<fs::path>(stopped);
        // Released already, so a new recording may start while this one is joined; "pending" and
        // "discard" keep away until the join is over.
        finishing_.insert(dir);
        jobs_.run([this, dir, done] {
            auto merged = failureOf<std::variant<fs::path, RecordingFailure>>([&] { return mergeSegments(dir); });
            queue_->sync([this, &dir] { finishing_.erase(dir); });
            if (const auto* file = std::get_if<fs::path>(&merged)) {
                onMainLoop([done, path = file->string()] { done(path); });
            } else {
                onMainLoop([done, failure = std::get<RecordingFailure>(merged)] { done(failure); });
            }
        });
    });
}

void MeetingRecorder::closeForExit() {
    std::shared_ptr<SystemAudioCapturing> capture;
    queue_->sync([this, &capture] {
        capture = std::exchange(capture_, nullptr);
        if (sessionDir_ && !finalizing_) (void)stopMicrophone();
    });
    // The last reference: the capture's destructor closes its raw tracks and its streams.
    capture.reset();
}

void MeetingRecorder::handleInterruption(const AudioInterruption& interruption) {
    if (!interruption.type) return;
    const std::uint64_t type = *interruption.type;
    queue_->async([this, type] {
        // Only microphone-segment recording hears interruptions (a start has not yet said which it is).
        if (!sessionDir_ || paused_ || capture_ || finalizing_ || starting_ || writeFailed_) return;
        if (type == AudioInterruption::kBegan) {
            stopRecorder();
        } else if (type == AudioInterruption::kEnded) {
            (void)ports_.audioSession->activate();
            if (!recorder_) (void)startSegment();
        }
    });
}

// ---- Steps on the queue ----------------------------------------------------------------------------

std::variant<fs::path, RecordingFailure> MeetingRecorder::createSessionDirectory() {
    const fs::path dir = ports_.recordingsDirectory / ports_.newUUID();
    if (const auto error = private_files::createDirectories(dir)) return RecordingFailure(SystemError{error.message()});
    return dir;
}

std::variant<fs::path, RecordingFailure> MeetingRecorder::makeSessionDirectory() {
    if (sessionDir_) return RecordingFailure(RecorderError::alreadyRecording());
    auto made = createSessionDirectory();
    if (const auto* dir = std::get_if<fs::path>(&made)) sessionDir_ = *dir;
    return made;
}

std::optional<RecordingFailure> MeetingRecorder::beginMicrophoneRecording() {
    if (sessionDir_) return RecorderError::alreadyRecording();
    if (auto failure = ports_.audioSession->configureForSpokenRecording()) return *failure;
    if (auto failure = ports_.audioSession->activate()) return *failure;
    auto made = createSessionDirectory();
    if (const auto* failure = std::get_if<RecordingFailure>(&made)) return *failure;
    const fs::path dir = std::get<fs::path>(made);
    sessionDir_ = dir;
    segmentIndex_ = 0;
    paused_ = false;
    if (auto failure = startSegment()) {
        recorder_.reset();
        sessionDir_.reset();
        removeQuietly(dir);
        (void)ports_.audioSession->deactivate();
        return failure;
    }
    startRotationTimer();
    return std::nullopt;
}

std::optional<RecordingFailure> MeetingRecorder::startSegment() {
    if (!sessionDir_) return std::nullopt;
    ++segmentIndex_;
    const fs::path file = *sessionDir_ / segmentName(segmentIndex_);
    auto created = ports_.segments->create(file, SegmentSettings{});
    if (const auto* failure = std::get_if<SystemError>(&created)) return RecordingFailure(*failure);
    auto recording = std::move(std::get<std::unique_ptr<SegmentRecording>>(created));
    if (!recording->record()) return RecorderError::exportFailed("録音を開始できませんでした");
    recorder_ = std::move(recording);
    return std::nullopt;
}

void MeetingRecorder::startRotationTimer() {
    std::weak_ptr<MeetingRecorder> weak = weak_from_this();
    const auto interval = ports_.rotationInterval;
    if (rotationTimer_) rotationTimer_->cancel();
    rotationTimer_ = queue_->scheduleRepeating(interval, interval, [weak] {
        if (auto self = weak.lock()) self->rotateSegment();
    });
}

void MeetingRecorder::rotateSegment() {
    if (!sessionDir_ || paused_) return;
    if (recorder_) {
        recorder_->handOver();
        recorder_.reset();
    }
    // Also when none runs: a segment that did not start at the last rotation or at an interruption's
    // end is tried again here. A failure leaves the session without a recorder until the next try.
    (void)startSegment();
}

void MeetingRecorder::stopRecorder() {
    if (!recorder_) return;
    recorder_->stop();
    recorder_.reset();
}

std::optional<RecordingFailure> MeetingRecorder::pauseMicrophone() {
    if (!recorder_) return RecorderError::notRecording();
    stopRecorder();
    paused_ = true;
    return std::nullopt;
}

std::optional<RecordingFailure> MeetingRecorder::resumeMicrophone() {
    if (!sessionDir_) return RecorderError::notRecording();
    if (!paused_) return std::nullopt;
    paused_ = false;
    if (auto failure = ports_.audioSession->activate()) return *failure;
    return startSegment();
}

std::variant<fs::path, RecordingFailure> MeetingRecorder::stopMicrophone() {
    if (!sessionDir_ || finalizing_) return RecordingFailure(RecorderError::notRecording());
    health_->end();
    if (rotationTimer_) {
        rotationTimer_->cancel();
        rotationTimer_.reset();
    }
    stopRecorder();
    const fs::path dir = *sessionDir_;
    sessionDir_.reset();
    paused_ = false;
    (void)ports_.audioSession->deactivate();
    return dir;
}

std::shared_ptr<SystemAudioCapturing> MeetingRecorder::takeCapture() {
    if (!capture_) return nullptr;
    finalizing_ = true;
    health_->end();
    return std::exchange(capture_, nullptr);
}

void MeetingRecorder::finishStarting() {
    starting_ = false;
    for (auto& done : std::exchange(stopsAfterStart_, {})) stop(std::move(done));
}

void MeetingRecorder::releaseSession() {
    sessionDir_.reset();
    finalizing_ = false;
}

void MeetingRecorder::presentAlert(AlertPresenter* alerts) {
    if (alerts) alerts->present(kFallbackAlertTitle, kFallbackAlertMessage);
}

}  // namespace orvan
