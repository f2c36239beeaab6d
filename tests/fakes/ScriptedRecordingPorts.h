#pragma once

#include <chrono>
#include <condition_variable>
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
#include "platform/FreeSpace.h"
#include "platform/RecordPermission.h"
#include "platform/SegmentRecorder.h"
#include "recording/SystemAudio.h"
#include "tests/fakes/ManualClock.h"

namespace orvan::testing {

// Every port the meeting recorder uses, as one object that writes what is done to it into one trace
// ("activate", "rec s1/segment-001 @0", "join s1: segment-001 40", "capture stop", ...). The recorder
// calls it from its queue and from background threads while the test reads it: one lock for all.
// Paths in the trace are relative to `root` (the recordings directory); times are seconds of the
// clock since the test began.
class ScriptedRecordingPorts final : public RecordPermission,
                                     public AudioSession,
                                     public AudioInterruptions,
                                     public SegmentRecorder,
                                     public AudioJoiner,
                                     public SystemAudio,
                                     public FreeSpace,
                                     public AlertPresenter {
public:
    using StopDone = std::function<void(std::variant<std::filesystem::path, RecordingFailure>)>;

    ScriptedRecordingPorts(std::shared_ptr<ManualClock> clock, std::filesystem::path root)
        : clock_(std::move(clock)), origin_(clock_->now()), root_(std::move(root)) {}

    // ---- The knobs a script turns (under `mutex`) ------------------------------------------------
    bool granted = true;
    std::optional<SystemError> activateFailure;
    std::optional<SystemError> createFailure;
    bool refuseToRecord = false;          // segments are made but do not start
    std::optional<Failure> joinFailure;
    bool holdJoins = false;               // joins wait until cleared
    bool diskFails = false;               // reading a segment throws as the standard library does on EIO
    bool captureSupported = false;
    bool mixable = false;                 // left-over raw tracks can be mixed without capture support
    std::optional<RecordingFailure> captureFailure;
    bool holdStart = false;               // a capture's start answers only on `finishStart`
    std::map<std::string, std::string> finalizeAs;  // by directory: "file", "nosound" or a failure text
    std::uint64_t freeBytes = std::uint64_t{1} << 40;

    // ---- The trace -------------------------------------------------------------------------------
    void note(const std::string& line) {
        std::lock_guard lock(mutex);
        trace.push_back(line);
        changed.notify_all();
    }
    // With the clock's time: "health: disk low @60".
    void noteNow(const std::string& line) { note(line + " @" + number(seconds())); }
    std::string relative(const std::filesystem::path& path) const {
        return path.lexically_relative(root_).string();
    }

    // ---- Answers the test gives later ------------------------------------------------------------
    void interrupt(std::optional<std::uint64_t> type) {
        std::function<void(const AudioInterruption&)> observer;
        {
            std::lock_guard lock(mutex);
            observer = observer_;
        }
        if (observer) observer(AudioInterruption{type});
    }
    void finishStart() {
        std::function<void(Started)> done;
        {
            std::lock_guard lock(mutex);
            done = std::exchange(heldStart_, nullptr);
        }
        done(std::static_pointer_cast<SystemAudioCapturing>(capture_));
    }
    void finishStop(std::variant<std::filesystem::path, RecordingFailure> result) {
        StopDone done;
        {
            std::lock_guard lock(mutex);
            done = std::exchange(capture_->heldStop, nullptr);
        }
        done(std::move(result));
    }
    void releaseJoins() {
        std::lock_guard lock(mutex);
        holdJoins = false;
        changed.notify_all();
    }
    std::vector<std::string> takeAlerts() {
        std::lock_guard lock(mutex);
        return std::exchange(alerts_, {});
    }

    // ---- The ports -------------------------------------------------------------------------------
    void request(std::function<void(bool)> answer) override { answer(granted); }

    std::optional<SystemError> configureForSpokenRecording() override {
        note("configure");
        return std::nullopt;
    }
    std::optional<SystemError> activate() override {
        std::lock_guard lock(mutex);
        trace.push_back(activateFailure ? "activate: " + activateFailure->description : "activate");
        return activateFailure;
    }
    std::optional<SystemError> deactivate() override {
        note("deactivate");
        return std::nullopt;
    }

    void observe(std::function<void(const AudioInterruption&)> observer) override {
        std::lock_guard lock(mutex);
        observer_ = std::move(observer);
    }

    std::variant<std::unique_ptr<SegmentRecording>, SystemError> create(const std::filesystem::path& file,
                                                                        const SegmentSettings&) override {
        std::lock_guard lock(mutex);
        if (createFailure) return *createFailure;
        std::ofstream(file, std::ios::binary);  // a recorder makes its file at once
        return std::make_unique<Segment>(*this, file, !refuseToRecord);
    }

    // Segments hold "seconds <n>"; anything else has no audio.
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
        std::ostringstream line;
        line << "join " << relative(output.parent_path()) << ":";
        for (const auto& piece : pieces) line << " " << piece.file.stem().string() << " " << piece.duration.seconds();
        std::unique_lock lock(mutex);
        trace.push_back(line.str());
        changed.notify_all();
        changed.wait(lock, [this] { return !holdJoins; });
        std::ofstream out(output, std::ios::binary);
        out << (joinFailure ? "half-written" : "joined");
        return joinFailure;
    }

    bool supported() const override { return captureSupported; }
    bool canFinalize() const override { return captureSupported || mixable; }
    void start(const std::filesystem::path& dir, std::function<void(Started)> done) override {
        {
            std::lock_guard lock(mutex);
            trace.push_back("capture start " + relative(dir));
            changed.notify_all();
            if (holdStart) {
                heldStart_ = std::move(done);
                return;
            }
        }
        if (captureFailure) return done(*captureFailure);
        done(std::static_pointer_cast<SystemAudioCapturing>(capture_));
    }
    Finalized finalize(const std::filesystem::path& dir) override {
        const std::string name = relative(dir);
        note("finalize " + name);
        std::lock_guard lock(mutex);
        const std::string as = finalizeAs.contains(name) ? finalizeAs.at(name) : "no result set";
        if (as == "nosound") return NoSound{};
        if (as != "file") return RecordingFailure(SystemError{as});
        std::ofstream(dir / "meeting.m4a") << "mixed";
        return dir / "meeting.m4a";
    }

    std::optional<std::uint64_t> availableBytes(const std::filesystem::path&) override {
        std::lock_guard lock(mutex);
        return freeBytes;
    }

    void present(const std::string& title, const std::string&) override {
        std::lock_guard lock(mutex);
        alerts_.push_back("alert " + title);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> trace;

private:
    // A segment writes, when it stops, how long it recorded into its file, for `audioDuration`.
    class Segment final : public SegmentRecording {
    public:
        Segment(ScriptedRecordingPorts& owner, std::filesystem::path file, bool starts)
            : owner_(owner), file_(std::move(file)), starts_(starts) {}
        ~Segment() override { end("stop"); }
        bool record() override {
            if (!starts_) return false;
            startedAt_ = owner_.seconds();
            owner_.note("rec " + name() + " @" + number(startedAt_));
            recording_ = true;
            return true;
        }
        void stop() override { end("stop"); }
        void handOver() override { end("handover"); }

    private:
        void end(const char* how) {
            if (!std::exchange(recording_, false)) return;
            const double at = owner_.seconds();
            owner_.note(how + (" " + name()) + " @" + number(at));
            std::ofstream(file_, std::ios::binary) << "seconds " << (at - startedAt_);
        }
        std::string name() const { return owner_.relative(file_.parent_path() / file_.stem()); }

        ScriptedRecordingPorts& owner_;
        std::filesystem::path file_;
        bool starts_;
        bool recording_ = false;
        double startedAt_ = 0;
    };

    class Capture final : public SystemAudioCapturing {
    public:
        explicit Capture(ScriptedRecordingPorts& owner) : owner_(owner) {}
        void pause() override { owner_.note("capture pause"); }
        void resume() override { owner_.note("capture resume"); }
        void stop(StopDone done) override {
            std::lock_guard lock(owner_.mutex);
            owner_.trace.push_back("capture stop");
            owner_.changed.notify_all();
            heldStop = std::move(done);
        }
        StopDone heldStop;  // under the owner's mutex

    private:
        ScriptedRecordingPorts& owner_;
    };

    static std::string number(double value) {
        std::ostringstream text;
        text << value;
        return text.str();
    }
    double seconds() const { return std::chrono::duration<double>(clock_->now() - origin_).count(); }

    std::shared_ptr<ManualClock> clock_;
    Clock::Time origin_;
    std::filesystem::path root_;
    std::function<void(const AudioInterruption&)> observer_;
    std::function<void(Started)> heldStart_;
    std::shared_ptr<Capture> capture_ = std::make_shared<Capture>(*this);
    std::vector<std::string> alerts_;
};

}  // namespace orvan::testing
