#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/AudioInterruptions.h"
#include "platform/AudioJoiner.h"
#include "platform/AudioSession.h"
#include "platform/RecordPermission.h"
#include "platform/SegmentRecorder.h"
#include "recording/SystemAudio.h"
#include "tests/fakes/ManualClock.h"

namespace orvan::testing {

// Every fake below is called from the recorder's queue or a background thread while the test thread
// reads it, hence the locks.

class FakeRecordPermission final : public RecordPermission {
public:
    void request(std::function<void(bool)> answer) override {
        answer(granted);
    }
    std::atomic<bool> granted = true;
};

class FakeAudioSession final : public AudioSession {
public:
    std::optional<SystemError> configureForSpokenRecording() override {
        std::lock_guard lock(mutex);
        calls_.push_back("configure");
        return std::nullopt;
    }
    std::optional<SystemError> activate() override {
        std::lock_guard lock(mutex);
        calls_.push_back("activate");
        if (!activateFailure) active_ = true;
        return activateFailure;
    }
    std::optional<SystemError> deactivate() override {
        std::lock_guard lock(mutex);
        calls_.push_back("deactivate");
        active_ = false;
        return std::nullopt;
    }

    std::vector<std::string> calls() {
        std::lock_guard lock(mutex);
        return calls_;
    }
    bool active() {
        std::lock_guard lock(mutex);
        return active_;
    }

    std::mutex mutex;
    std::optional<SystemError> activateFailure;

private:
    std::vector<std::string> calls_;
    bool active_ = false;
};

class FakeInterruptions final : public AudioInterruptions {
public:
    void observe(std::function<void(const AudioInterruption&)> observer) override {
        std::lock_guard lock(mutex);
        observer_ = std::move(observer);
    }
    void send(std::optional<std::uint64_t> type) {
        std::function<void(const AudioInterruption&)> observer;
        {
            std::lock_guard lock(mutex);
            observer = observer_;
        }
        if (observer) observer(AudioInterruption{type});
    }
    bool observed() {
        std::lock_guard lock(mutex);
        return static_cast<bool>(observer_);
    }

private:
    std::mutex mutex;
    std::function<void(const AudioInterruption&)> observer_;
};

// Writes, when a segment stops, how long it recorded ("seconds <n>") into its file, so that the fake
// joiner below can read the durations back.
class FakeSegmentRecorder final : public SegmentRecorder {
public:
    struct Segment {
        std::filesystem::path file;
        SegmentSettings settings;
        std::optional<double> startedAt;  // seconds of the fake clock
        std::optional<double> stoppedAt;
        bool handedOver = false;  // ended for the next segment to follow at once
    };

    explicit FakeSegmentRecorder(std::shared_ptr<ManualClock> clock) : clock_(std::move(clock)) {}

    std::variant<std::unique_ptr<SegmentRecording>, SystemError> create(const std::filesystem::path& file,
                                                                        const SegmentSettings& settings) override {
        std::lock_guard lock(mutex);
        if (createFailure) return *createFailure;
        std::ofstream(file, std::ios::binary);  // a recorder makes its file at once
        segments_.push_back({file, settings, std::nullopt, std::nullopt});
        return std::make_unique<Recording>(*this, segments_.size() - 1, !refuseToRecord);
    }

    std::vector<Segment> segments() {
        std::lock_guard lock(mutex);
        return segments_;
    }
    // File names of the segments that are recording now.
    int recordingNow() {
        std::lock_guard lock(mutex);
        int count = 0;
        for (const auto& segment : segments_) count += segment.startedAt && !segment.stoppedAt ? 1 : 0;
        return count;
    }

    std::mutex mutex;
    std::optional<SystemError> createFailure;
    bool refuseToRecord = false;

private:
    class Recording final : public SegmentRecording {
    public:
        Recording(FakeSegmentRecorder& owner, std::size_t index, bool starts)
            : owner_(owner), index_(index), starts_(starts) {}
        ~Recording() override {
            if (recording_) stop();
        }
        bool record() override {
            if (!starts_) return false;
            std::lock_guard lock(owner_.mutex);
            owner_.segments_[index_].startedAt = owner_.seconds();
            recording_ = true;
            return true;
        }
        void stop() override { end(false); }
        void handOver() override { end(true); }

    private:
        void end(bool handedOver) {
            std::lock_guard lock(owner_.mutex);
            if (!recording_) return;
            recording_ = false;
            auto& segment = owner_.segments_[index_];
            segment.handedOver = handedOver;
            segment.stoppedAt = owner_.seconds();
            std::ofstream(segment.file, std::ios::binary) << "seconds " << (*segment.stoppedAt - *segment.startedAt);
        }

        FakeSegmentRecorder& owner_;
        std::size_t index_;
        bool starts_;
        bool recording_ = false;
    };

    double seconds() const { return std::chrono::duration<double>(clock_->now()).count(); }

    std::shared_ptr<ManualClock> clock_;
    std::vector<Segment> segments_;
};

// Reads "seconds <n>" files; anything else has no audio. Joining writes the pieces' names and
// durations, one a line, into the output.
class FakeAudioJoiner final : public AudioJoiner {
public:
    std::optional<MediaTime> audioDuration(const std::filesystem::path& file) override {
        if (diskFails) {
            throw std::filesystem::filesystem_error("cannot read", file, std::make_error_code(std::errc::io_error));
        }
        std::ifstream in(file);
        std::string word;
        double seconds = 0;
        if (!(in >> word >> seconds) || word != "seconds") return std::nullopt;
        return MediaTime{static_cast<std::int64_t>(seconds * 16000 + 0.5), 16000};
    }

    std::optional<Failure> join(const std::vector<Piece>& pieces, const std::filesystem::path& output) override {
        std::unique_lock lock(mutex);
        ++joins;
        if (holdJoins) {
            joinStarted.notify_all();
            released.wait(lock, [this] { return !holdJoins; });
        }
        std::ofstream out(output, std::ios::binary);
        if (failure) {
            out << "half-written";
            return failure;
        }
        for (const auto& piece : pieces) {
            out << piece.file.filename().string() << " " << piece.duration.seconds() << "\n";
        }
        return std::nullopt;
    }

    // Keeps every join waiting until `release`, so a test can look at the recorder meanwhile.
    void hold() {
        std::lock_guard lock(mutex);
        holdJoins = true;
    }
    bool waitUntilJoining(int count) {
        std::unique_lock lock(mutex);
        return joinStarted.wait_for(lock, std::chrono::seconds(5), [&] { return joins >= count; });
    }
    void release() {
        std::lock_guard lock(mutex);
        holdJoins = false;
        released.notify_all();
    }

    std::mutex mutex;
    std::condition_variable joinStarted;
    std::condition_variable released;
    bool holdJoins = false;
    bool diskFails = false;  // reading a segment throws as the standard library does on EIO
    int joins = 0;
    std::optional<Failure> failure;
};

// A system-audio capture whose start and stop answer when the test says.
class FakeSystemAudio final : public SystemAudio {
public:
    class Capture final : public SystemAudioCapturing {
    public:
        void pause() override { note("pause"); }
        void resume() override { note("resume"); }
        void stop(std::function<void(std::variant<std::filesystem::path, RecordingFailure>)> done) override {
            note("stop");
            std::lock_guard lock(mutex);
            stops.push_back(std::move(done));
        }
        std::vector<std::string> calls() {
            std::lock_guard lock(mutex);
            return calls_;
        }
        // Answers the oldest stop.
        void finishStop(std::variant<std::filesystem::path, RecordingFailure> result) {
            std::function<void(std::variant<std::filesystem::path, RecordingFailure>)> done;
            {
                std::lock_guard lock(mutex);
                done = std::move(stops.front());
                stops.erase(stops.begin());
            }
            done(std::move(result));
        }
        std::mutex mutex;
        std::vector<std::function<void(std::variant<std::filesystem::path, RecordingFailure>)>> stops;

    private:
        void note(const char* call) {
            std::lock_guard lock(mutex);
            calls_.push_back(call);
        }
        std::vector<std::string> calls_;
    };

    bool supported() const override { return isSupported; }
    bool canFinalize() const override { return isSupported || isMixable; }

    void start(const std::filesystem::path& dir, std::function<void(Started)> done) override {
        {
            std::lock_guard lock(mutex);
            startedDirs.push_back(dir);
            if (holdStart) {
                heldStart = std::move(done);
                return;
            }
        }
        if (startFailure) {
            done(*startFailure);
        } else {
            done(std::static_pointer_cast<SystemAudioCapturing>(capture));
        }
    }

    Finalized finalize(const std::filesystem::path& dir) override {
        std::lock_guard lock(mutex);
        finalized.push_back(dir.filename().string());
        if (auto found = finalizeResults.find(dir.filename().string()); found != finalizeResults.end()) {
            if (const auto* file = std::get_if<std::filesystem::path>(&found->second)) {
                std::ofstream(*file) << "mixed";
            }
            return found->second;
        }
        return RecordingFailure(SystemError{"no result set"});
    }

    // Answers the start that `holdStart` kept waiting, with the capture.
    void finishStart() {
        std::function<void(Started)> done;
        {
            std::lock_guard lock(mutex);
            done = std::move(heldStart);
        }
        done(std::static_pointer_cast<SystemAudioCapturing>(capture));
    }
    bool startHeld() {
        std::lock_guard lock(mutex);
        return static_cast<bool>(heldStart);
    }

    std::mutex mutex;
    bool holdStart = false;
    std::function<void(Started)> heldStart;
    bool isSupported = true;
    bool isMixable = false;  // left-over raw tracks can be mixed without capture support
    std::optional<RecordingFailure> startFailure;
    std::shared_ptr<Capture> capture = std::make_shared<Capture>();
    std::vector<std::filesystem::path> startedDirs;
    std::vector<std::string> finalized;
    std::map<std::string, Finalized> finalizeResults;  // by directory name
};

class FakeAlertPresenter final : public AlertPresenter {
public:
    void present(const std::string& title, const std::string& message) override {
        shown.push_back(title + "|" + message);
    }
    std::vector<std::string> shown;
};

}  // namespace orvan::testing
