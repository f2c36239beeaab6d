#include "macshell/MeetingSession.h"

#include <gtest/gtest.h>


#include "platform/SystemLog.h"
#include "tests/fakes/FakeKestrinPorts.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeMainTimers.h"

namespace orvan::testing {
namespace {

// One recording at a time, like the real recorder: a stop hands it over once (when the test says
// "save"), and stops meanwhile or afterwards answer "not recording". Still recording until then.
class OneRecordingRecorder final : public RecorderCommands {
public:
    explicit OneRecordingRecorder(std::vector<std::string>& trace) : trace_(trace) {}
    void start(Done done) override {
        trace_.push_back("rec:start");
        starting_ = std::move(done);
        if (!holdStarts) started();
    }
    void pause(Done done) override { done(pauseFailure); }
    void resume(Done done) override { done(pauseFailure); }
    void stop(PathDone done) override {
        trace_.push_back("rec:stop");
        if (!recording || taken_) return done(RecorderError::notRecording());
        taken_ = true;
        stopping_ = std::move(done);
    }
    void pending(PendingDone done) override { done(std::nullopt); }
    void discard(const std::string&, Done done) override { done(std::nullopt); }

    // The held start answers (a microphone check the user takes a while over).
    void started() {
        if (!startFailure) recording = true;
        std::exchange(starting_, nullptr)(startFailure);
    }
    void save() {
        recording = taken_ = false;
        auto done = std::move(stopping_);
        if (stopFailure) done(RecordingFailure(*stopFailure));
        else done(std::string("/rec/meeting.m4a"));
    }

    bool recording = false, holdStarts = false;
    std::optional<RecorderError> startFailure, pauseFailure, stopFailure;

private:
    std::vector<std::string>& trace_;
    bool taken_ = false;
    Done starting_;
    PathDone stopping_;
};

// The plug-in (FakeKestrin), the notification centre and the log, all writing into one trace, in call order.
class TracingNotifications final : public UserNotificationCenter {
public:
    explicit TracingNotifications(std::vector<std::string>& trace) : trace_(trace) {}
    void add(const NotificationRequest& request) override {
        trace_.push_back("notify:" + request.title + "|" + request.body.value_or("") + (request.sound ? "|sound" : ""));
    }
    void remove(const std::string&) override {}
    void authorization(std::function<void(NotificationAuthorization)>) override {}
    void requestAuthorization(std::function<void(bool)>) override {}
    void setResponseHandler(std::function<void(const NotificationResponse&)>) override {}

private:
    std::vector<std::string>& trace_;
};

class TracingLog final : public LogSink {
public:
    explicit TracingLog(std::vector<std::string>& trace) : trace_(trace) {}
    void write(std::string_view line) override { trace_.push_back("log:" + std::string(line)); }

private:
    std::vector<std::string>& trace_;
};

struct Sequence {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::string> trace;
    bool plugin = true;
};

void PrintTo(const Sequence& sequence, std::ostream* out) { *out << sequence.name; }

const std::string kSaved = "notify:会議の録音を保存しました|トモリバで議事録への保存を始めます。";
const std::string kNotes = "open:https://app.example/meeting-notes/record?mode=desktop-app";
const std::string kLimit = std::string("log:") + MeetingSessionCoordinator::kLimitLine;

class MeetingSessionTest : public ::testing::TestWithParam<Sequence> {};

TEST_P(MeetingSessionTest, FollowsTheSequence) {
    FakeKestrin plugin;
    std::vector<std::string>& trace = plugin.calls;
    FakeMainLoop loop;
    setLogSink(std::make_shared<TracingLog>(trace));
    auto timers = std::make_shared<FakeMainTimers>();
    auto recorder = std::make_shared<OneRecordingRecorder>(trace);
    // The one door both sides use, as in the application.
    auto activity = std::make_shared<RecorderActivity>(recorder);
    auto center = NotificationCenter::create(loop);
    auto notifications = std::make_shared<TracingNotifications>(trace);
    auto flag = center->addObserver(notification_names::kEvaluate, [&](const Notification& n) {
        trace.push_back("flag:" + std::any_cast<std::string>(n.object));
    });
    MeetingSessionCoordinator session(
        {
            .mainLoop = &loop,
            .timers = timers,
            .recorder = activity,
            .center = center,
            .notifications = notifications,
            .newUUID = [] { return std::string("uuid"); },
            .appURL = [] { return *Url::parse("https://app.example/home"); },
            .openInternal = [&](const Url& url) { trace.push_back("open:" + url.string()); },
        },
        [&]() -> KestrinProtocol* { return GetParam().plugin ? &plugin : nullptr; });

    for (const std::string& step : GetParam().steps) {
        const auto colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
        if (verb == "event") session.handleMeetingEvent(arg, std::nullopt);
        else if (verb == "started") session.handleMeetingEvent("started", arg);
        else if (verb == "action") session.handlePopupAction(arg);
        // The page's commands, as the dispatcher runs them.
        else if (verb == "page-start") activity->start([&](auto failure) { if (!failure) session.recordingStarted(); });
        else if (verb == "page-pause") session.setPaused(true);
        else if (verb == "page-stop") activity->stop([&](auto) { session.recordingEnded(); });
        else if (verb == "page-stop-failed") session.recordingEnded();
        else if (verb == "hold-starts") recorder->holdStarts = true;
        else if (verb == "started-now") recorder->started();
        else if (verb == "popup-closed") plugin.popupVisible = false;
        else if (verb == "deny-capture") plugin.grantsCapture = false;
        else if (verb == "fail-start") recorder->startFailure = RecorderError::permissionDenied();
        else if (verb == "fail-pause") recorder->pauseFailure = RecorderError::notRecording();
        else if (verb == "fail-save") recorder->stopFailure = RecorderError::exportFailed("disk full");
        else if (verb == "seconds") timers->advance(std::chrono::seconds(std::stoi(arg)));
        else if (verb == "save") recorder->save();
        else if (verb == "check-paused") trace.push_back(session.session().paused ? "paused" : "not paused");
        // What the recorder reports: "silent+disk", "ok", "failed:<why>".
        else if (verb == "health") center->post(notification_names::kRecordingHealth, RecordingHealth{arg.find("silent") == 0,
            arg.find("disk") != std::string::npos, arg.starts_with("failed:") ? std::optional(arg.substr(7)) : std::nullopt});
        else FAIL() << "unknown step " << step;
        loop.runUntilIdle();
    }
    EXPECT_EQ(trace, GetParam().trace);
    EXPECT_FALSE(GetParam().steps.back() == "save" && session.limitArmed()) << "the limit outlives the recording";
    setLogSink(nullptr);
}

const std::string kOn = "flag:window.__orvanRecordingActive = true;";
const std::string kSilent = "マイクの音が届いていません", kDisk = "ディスクの空きが少なくなっています",
    kSilentNote = "notify:" + kSilent + "|マイクのミュートや接続を確かめてください。",
    kDiskNote = "notify:" + kDisk + "|残りは録音10分ぶんほどです。不要なファイルを消して空きを作ってください。";
const std::string kOff = "flag:window.__orvanRecordingActive = false;";

INSTANTIATE_TEST_SUITE_P(
    Sequences, MeetingSessionTest,
    ::testing::Values(
        Sequence{"WithoutALabelTheMeetingIsCalledKaigi", {"event:started"}, {"popup:invite|会議"}},
        Sequence{"StartedDuringAPausedPageRecordingKeepsThePause",
                 {"page-start", "page-pause", "started:Zoom", "check-paused"},
                 {"rec:start", "popup:recording|会議", kOn, "popup:paused|会議", "popup:paused|Zoom", "paused"}},
        Sequence{"StartPauseResumeFinishSavesAndOpensTheNotesPage",
                 {"started:Zoom", "action:start", "action:pause", "action:resume", "action:finish", "save"},
                 {"popup:invite|Zoom", "rec:start", "popup:recording|Zoom", kOn, "popup:paused|Zoom",
                  "popup:recording|Zoom", "rec:stop", "hide", kSaved, kNotes, "show", kOff}},
        Sequence{"EndedWhileRecordingHidesAtOnceThenSaves",
                 {"started:Zoom", "action:start", "event:ended", "save"},
                 {"popup:invite|Zoom", "rec:start", "popup:recording|Zoom", kOn, "hide", "rec:stop", "hide", kSaved,
                  kNotes, "show", kOff}},
        Sequence{"EndedWithoutRecordingOnlyHides", {"started:Zoom", "event:ended"}, {"popup:invite|Zoom", "hide"}},
        Sequence{"PermissionRefusedIsShownOnceAndNotAfterDismiss",
                 {"deny-capture", "event:permission", "event:permission", "action:dismiss", "event:permission"},
                 {"askCapture", "popup:permission|", "hide"}},
        Sequence{"PermissionGrantedShowsNothing", {"event:permission"}, {"askCapture"}},
        Sequence{"FailedStartShowsTheError", {"started:Zoom", "fail-start", "action:start"},
                 {"popup:invite|Zoom", "rec:start", "popup:error|Zoom|マイクの使用が許可されていません。設定アプリの「トモリバ」でマイクをオンにしてください。"}},
        Sequence{"FailedPauseKeepsThePhaseAndShowsTheError",
                 {"started:Zoom", "action:start", "fail-pause", "action:pause", "check-paused"},
                 {"popup:invite|Zoom", "rec:start", "popup:recording|Zoom", kOn,
                  "popup:recording|Zoom|録音していません", "not paused"}},
        Sequence{"PauseWithThePopupClosedDoesNotBringItBack",
                 {"page-start", "popup-closed", "page-pause", "check-paused"},
                 {"rec:start", "popup:recording|会議", kOn, "paused"}},
        Sequence{"FourHoursFinishTheRecordingLikeFinish",
                 {"page-start", "seconds:14399", "seconds:1", "save"},
                 {"rec:start", "popup:recording|会議", kOn, kLimit, "rec:stop", "hide", kSaved, kNotes, "show", kOff}},
        Sequence{"TheLimitCountsFromTheLastStart",
                 {"page-start", "seconds:14000", "page-start", "seconds:14000"},
                 {"rec:start", "popup:recording|会議", kOn, "rec:start", "popup:recording|会議", kOn}},
        Sequence{"EndedDuringAFinishSavesOnceAndEndsOnce",
                 {"started:Zoom", "action:start", "action:finish", "event:ended", "save"},
                 {"popup:invite|Zoom", "rec:start", "popup:recording|Zoom", kOn, "rec:stop", "hide", "rec:stop",
                  "hide", kSaved, kNotes, "show", kOff}},
        Sequence{"FailedSaveNotifiesTheReasonAndOpensNothing",
                 {"page-start", "fail-save", "action:finish", "save"},
                 {"rec:start", "popup:recording|会議", kOn, "rec:stop", "hide", "notify:録音を保存できませんでした|録音をまとめられませんでした: disk full", kOff}},
        Sequence{"FinishWhileIdleOnlyEnds", {"action:finish"}, {"rec:stop", "hide", kOff}},
        Sequence{"PageStopFailedStillEnds", {"page-start", "page-stop-failed", "seconds:14400"},
                 {"rec:start", "popup:recording|会議", kOn, "hide", kOff}},
        Sequence{"ANewMeetingDuringASaveIsInvitedAndStaysInvited",
                 {"started:Zoom", "action:start", "event:ended", "started:Teams", "save"},
                 {"popup:invite|Zoom", "rec:start", "popup:recording|Zoom", kOn, "hide", "rec:stop",
                  "popup:invite|Teams", kSaved, kNotes, "show", kOff}},
        Sequence{"AMeetingDuringAPageStartIsInvitedAndAFailedStartShowsNoRecording",
                 {"hold-starts", "fail-start", "page-start", "started:Zoom", "started-now"},
                 {"rec:start", "popup:invite|Zoom"}},
        Sequence{"APageStopDuringAFinishEndsOnceTheFileIsSaved",
                 {"started:Zoom", "action:start", "action:finish", "page-stop", "save"},
                 {"popup:invite|Zoom", "rec:start", "popup:recording|Zoom", kOn, "rec:stop", "rec:stop", "hide",
                  kSaved, kNotes, "show", kOff}},
        Sequence{"AFinishDuringAPageStopLeavesTheSaveToThePage",
                 {"page-start", "page-stop", "action:finish", "save"},
                 {"rec:start", "popup:recording|会議", kOn, "rec:stop", "rec:stop", "hide", kOff}},
        Sequence{"EndedDuringTheStartsMicrophoneCheckSavesTheRecordingOnceStarted",
                 {"started:Zoom", "hold-starts", "action:start", "event:ended", "started-now", "save"},
                 {"popup:invite|Zoom", "rec:start", "hide", kOn, "rec:stop", "hide", kSaved, kNotes, "show", kOff}},
        Sequence{"WarningsLastWhileTheyHoldAndAreNotifiedOncePerRecordingTheMicrophoneFirst",
                 {"page-start", "health:silent", "health:ok", "health:silent+disk", "health:disk", "health:ok",
                  "page-stop", "save", "page-start", "health:silent"},
                 {"rec:start", "popup:recording|会議", kOn, kSilentNote, "warning:" + kSilent, "warning:none", kDiskNote,
                  "warning:" + kSilent, "warning:" + kDisk, "warning:none", "rec:stop", "hide", kOff, "rec:start",
                  "popup:recording|会議", kOn, kSilentNote, "warning:" + kSilent}},
        Sequence{"AFailedWriteSaysSoAndSavesAtOnce",
                 {"started:Zoom", "action:start", "health:failed:No space left on device", "health:failed:x", "save"},
                 {"popup:invite|Zoom", "rec:start", "popup:recording|Zoom", kOn,
                  "warning:ディスクに書き込めないため録音を止めました",
                  "notify:ディスクに書き込めないため録音を止めました|ここまでの録音を保存します（No space left on device）",
                  "rec:stop", "warning:none", "hide", kSaved, kNotes, "show", kOff}},
        Sequence{"WithoutAPlugInWarningsAreNotificationsAndOnlyWhileRecording",
                 {"health:silent", "page-start", "health:disk"}, {"rec:start", kOn, kDiskNote}, false},
        Sequence{"WithoutAPlugInFlagLimitAndSavingStillWork",
                 {"page-start", "seconds:14400", "save"}, {"rec:start", kOn, kLimit, "rec:stop", kSaved, kNotes, kOff}, false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace orvan::testing
