#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/AudioInterruptions.h"
#include "platform/AudioJoiner.h"
#include "platform/AudioSession.h"
#include "platform/BackgroundJobs.h"
#include "platform/Clock.h"
#include "platform/FreeSpace.h"
#include "platform/MainLoop.h"
#include "platform/RecordPermission.h"
#include "platform/RecordingSignals.h"
#include "platform/SegmentRecorder.h"
#include "platform/SerialQueue.h"
#include "recording/RecorderCommands.h"
#include "recording/RecordingHealth.h"
#include "recording/SystemAudio.h"

namespace orvan {

// What the recorder is built from.
struct MeetingRecorderPorts {
    std::string applicationIdentifier;  // prefixes the queue's label
    std::shared_ptr<MainLoop> mainLoop;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<RecordPermission> permission;
    std::shared_ptr<AudioSession> audioSession;
    std::shared_ptr<AudioInterruptions> interruptions;
    std::shared_ptr<SegmentRecorder> segments;
    std::shared_ptr<AudioJoiner> joiner;
    std::shared_ptr<SystemAudio> systemAudio;
    std::shared_ptr<AlertPresenter> alerts;
    std::filesystem::path recordingsDirectory;
    std::function<std::string()> newUUID;  // lower-case
    // Tests shorten it so a real recording rotates within seconds.
    Clock::Time rotationInterval = std::chrono::seconds(300);
    // What the capture tells while it records (the same object the capture writes into); with
    // `freeSpace`, what the health of a recording is judged by. None: not watched.
    std::shared_ptr<RecordingSignals> signals = nullptr;
    std::shared_ptr<FreeSpace> freeSpace = nullptr;
    // Every change of the running recording's health, on the main loop.
    std::function<void(const RecordingHealth&)> healthChanged = {};
};

// Records one meeting at a time into a session directory of its own under the recordings directory
// and hands back the path of one finished audio file: from the system audio where the system can
// capture it, otherwise from the microphone in segments that are joined when recording stops.
//
// Every field changes only on `queue()`. The page's commands arrive on the main loop and return at
// once; their completions run on the main loop. Work that waits (the permission, a capture's start
// and stop, joining segments, finishing left-overs) runs on background threads, never on the queue.
class MeetingRecorder final : public RecorderCommands, public std::enable_shared_from_this<MeetingRecorder> {
public:
    static constexpr const char* kSegmentPattern = "segment-%03d.m4a";
    static constexpr const char* kFinishedName = "meeting.m4a";
    // Where the joined file is written before it is renamed, so "meeting.m4a" only ever appears whole.
    static constexpr const char* kPartialName = "meeting.partial.m4a";
    static constexpr const char* kSystemTrackName = "system.f32";
    static constexpr const char* kMicTrackName = "mic.f32";
    static constexpr const char* kFallbackAlertTitle = "マイクだけで録音しています";
    static constexpr const char* kFallbackAlertMessage =
        "画面収録が許可されていないため、Zoom や Meet の相手の声は入りません。相手の声も録るには、システム設定 →"
        "「プライバシーとセキュリティ」→「画面とシステムオーディオ録音」で トモリバをオンにし、アプリを開き直してから録り"
        "直してください。";

    static std::shared_ptr<MeetingRecorder> create(MeetingRecorderPorts ports);
    // The process's one recorder, made on first use from the ports given to `configureShared` (once,
    // at start-up). Never destroyed.
    static void configureShared(MeetingRecorderPorts ports);
    static std::shared_ptr<MeetingRecorder> shared();

    ~MeetingRecorder() override;
    MeetingRecorder(const MeetingRecorder&) = delete;
    MeetingRecorder& operator=(const MeetingRecorder&) = delete;

    // Whether a session is in use: from a successful start until stop releases it.
    bool isRecording();

    void start(Done done) override;
    void pause(Done done) override;
    void resume(Done done) override;
    void stop(PathDone done) override;
    void pending(PendingDone done) override;
    void discard(const std::string& path, Done done) override;

    void handleInterruption(const AudioInterruption& interruption);

    // For the application's exit: ends a running recording where it is. Its files are flushed and
    // closed, nothing is joined, mixed or deleted, and the next "pending" finishes them. Blocks.
    void closeForExit();

    // Segment files of a session directory, in name order; empty when it cannot be listed.
    static std::vector<std::filesystem::path> listSegments(const std::filesystem::path& dir);
    // The same, but a listing that fails part way (a failing disk) is an error, not "no segments".
    static std::variant<std::vector<std::filesystem::path>, SystemError> listSegmentsChecked(
        const std::filesystem::path& dir);
    // Joins a directory's segments into "meeting.m4a". Blocks; not for the queue or the main loop.
    std::variant<std::filesystem::path, RecordingFailure> mergeSegments(const std::filesystem::path& dir);
    // The blocking bodies of "pending" and "discard".
    std::variant<std::optional<std::string>, RecordingFailure> findPending();
    std::optional<RecordingFailure> discardNow(const std::string& path);

    SerialQueue& queue() { return *queue_; }
    const std::filesystem::path& recordingsDirectory() const { return ports_.recordingsDirectory; }

private:
    explicit MeetingRecorder(MeetingRecorderPorts ports);

    // Runs a completion on the main loop.
    void onMainLoop(std::function<void()> completion);

    // On the queue, asynchronous; answers on the queue whether system-audio recording runs.
    void startWithSystemAudio(std::function<void(std::variant<bool, RecordingFailure>)> answer);

    // On the queue.
    std::variant<std::filesystem::path, RecordingFailure> makeSessionDirectory();
    std::variant<std::filesystem::path, RecordingFailure> createSessionDirectory();
    std::optional<RecordingFailure> beginMicrophoneRecording();
    std::optional<RecordingFailure> startSegment();
    void startRotationTimer();
    void rotateSegment();
    std::optional<RecordingFailure> pauseMicrophone();
    std::optional<RecordingFailure> resumeMicrophone();
    std::variant<std::filesystem::path, RecordingFailure> stopMicrophone();
    std::shared_ptr<SystemAudioCapturing> takeCapture();
    // Ends the starting state and runs the stops that waited for it.
    void finishStarting();
    // Made once, with the recorder: the health watch and the listener for failed writes.
    void watchHealth();
    // A write failed and the writer has stopped: no segment is started any more until the stop.
    void writeFailed(const std::string& description);
    // What this recording writes to its file system each second.
    std::uint64_t bytesPerSecond() const;
    void releaseSession();
    void stopRecorder();
    // Claims `dir` for finishing; false when another job already finishes it.
    bool claimForFinishing(const std::filesystem::path& dir);
    // Whether every one of a session's segments is empty: the session stopped before it recorded.
    bool neverRecorded(const std::vector<std::filesystem::path>& segments);

    // On the main loop: tells the user that only the microphone is recorded.
    static void presentAlert(AlertPresenter* alerts);

    MeetingRecorderPorts ports_;
    std::unique_ptr<SerialQueue> queue_;

    // The fields; only on the queue.
    std::unique_ptr<SegmentRecording> recorder_;
    std::optional<std::filesystem::path> sessionDir_;
    std::int64_t segmentIndex_ = 0;
    bool paused_ = false;
    std::shared_ptr<SerialQueue::Timer> rotationTimer_;
    std::shared_ptr<SystemAudioCapturing> capture_;
    bool finalizing_ = false;
    // From the first step of a start until it has answered: a stop meanwhile waits for it.
    bool starting_ = false;
    std::vector<PathDone> stopsAfterStart_;
    bool writeFailed_ = false;
    std::unique_ptr<RecordingHealthWatch> health_;
    // Directories whose files are being joined or mixed: "pending" and "discard" keep away from them.
    std::set<std::filesystem::path> finishing_;

    // Last member: its destructor waits for the jobs, which use everything above.
    BackgroundJobs jobs_;
};

}  // namespace orvan
