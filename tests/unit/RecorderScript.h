#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recording/MeetingRecorder.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/ScriptedRecordingPorts.h"
#include "tests/support/ScriptCase.h"
#include "tests/support/TempDirectory.h"

namespace orvan::testing {

// A scenario for the recorder: steps played in order, and the trace they must leave, compared whole.
// The trace holds what the ports were asked (see ScriptedRecordingPorts), each command's answer
// ("start: ok", "stop: s1/meeting.m4a", "pending: none") and what "ls" and "recording?" saw.
using RecorderScript = ScriptCase;

// The test's name: the script's name in camel case.
inline std::string scriptName(const ::testing::TestParamInfo<RecorderScript>& info) {
    std::string name;
    bool capital = true;
    for (const char c : std::string(info.param.name)) {
        const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (alnum) name += capital ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        capital = !alnum;
    }
    return name;
}

// Plays a script against a recorder built on ScriptedRecordingPorts, with the recordings directory in
// a fresh temporary directory and a clock moved only by "run". Steps:
//   start, pause, resume, stop, pending, discard <path>   a command; its answer is traced when it comes
//   <command>&                                            sent without waiting for its answer
//   wait                                                  until every command sent has answered
//   await <prefix>                                        until the trace holds a new line with that start
//   run <seconds>, began, ended, odd                      time passes; the microphone's interruptions
//   quiet, loud, mute, unmute, writeFails <text>          what the capture tells (loud unless quiet)
//   exit, recording?, ls                                  closeForExit; isRecording; every file left
//   file <path> [text], segment <path> <seconds>, link <path> <target>     files before the steps
// and the knobs: deny, refuse, accept, createFails <text>, activateFails <text>, activateOk,
// joinFails <kind>|<text>, holdJoin, releaseJoin, diskFails, capture, mixable, captureFails <text>,
// holdStart, finishStart, finishStop <path>|fail:<text>, finalize <dir> file|nosound|<text>, free <bytes>,
// rm <path>. Health changes are traced as "health: silent disk low @<seconds>" ("ok" when healthy).
// Paths are relative to the recordings directory; "~/" starts one at the home directory above it.
class RecorderScriptRunner : public ::testing::Test {
protected:
    RecorderScriptRunner() {
        recorder = MeetingRecorder::create(MeetingRecorderPorts{
            .applicationIdentifier = "jp.tomoriva.OrvanOffice",
            .mainLoop = mainLoop,
            .clock = clock,
            .permission = ports,
            .audioSession = ports,
            .interruptions = ports,
            .segments = ports,
            .joiner = ports,
            .systemAudio = ports,
            .alerts = ports,
            .recordingsDirectory = root(),
            .newUUID = [this] { return "s" + std::to_string(++sessions); },
            .rotationInterval = std::chrono::seconds(300),
            .signals = signals,
            .freeSpace = ports,
            .healthChanged = [this](const RecordingHealth& h) {
                ports->noteNow(std::string("health:") + (h.healthy() ? " ok" : "") + (h.microphoneSilent ? " silent" : "") +
                               (h.diskLow ? " disk low" : "") + (h.writeFailure ? " write failed: " + *h.writeFailure : ""));
            },
        });
    }
    ~RecorderScriptRunner() override {
        recorder.reset();
        setLogSink(nullptr);
    }

    std::filesystem::path root() const { return home.path() / "recordings"; }

    void play(const RecorderScript& script) {
        for (const auto& step : script.steps) {
            SCOPED_TRACE(step);
            perform(step);
            for (auto& alert : ports->takeAlerts()) ports->note(alert);
        }
        perform("wait");
        std::lock_guard lock(ports->mutex);
        EXPECT_EQ(ports->trace, script.trace);
    }

private:
    void perform(const std::string& step);
    // Sends a command; the flag is set once it has answered.
    std::shared_ptr<bool> send(const std::string& command, const std::string& argument);
    // Runs the fake main loop until `done` holds; the recorder's queue and jobs run on their own threads.
    void settle(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (mainLoop->runUntilIdle(), !done()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the script got stuck";
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    std::filesystem::path at(const std::string& path) const {
        return path.starts_with("~/") ? home.path() / path.substr(2) : root() / path;
    }
    std::string listing() const;

protected:
    TempDirectory home{"orvan-recorder"};
    std::shared_ptr<CapturingLogSink> log = CapturingLogSink::install();
    std::shared_ptr<FakeMainLoop> mainLoop = std::make_shared<FakeMainLoop>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<ScriptedRecordingPorts> ports = std::make_shared<ScriptedRecordingPorts>(clock, root());
    std::shared_ptr<RecordingSignals> signals = std::make_shared<RecordingSignals>();
    std::shared_ptr<MeetingRecorder> recorder;

private:
    bool loud_ = true;
    int sessions = 0;
    int unanswered = 0;
    std::size_t awaited = 0;  // where the next "await" looks from
};

inline std::shared_ptr<bool> RecorderScriptRunner::send(const std::string& command, const std::string& argument) {
    ++unanswered;
    auto answered = std::make_shared<bool>(false);
    auto answer = [this, command, answered](std::string text) {
        ports->note(command + ": " + text);
        --unanswered;
        *answered = true;
    };
    auto done = [answer](std::optional<RecordingFailure> failure) {
        answer(failure ? failure->description() : "ok");
    };
    auto path = [this, answer](std::variant<std::string, RecordingFailure> result) {
        const auto* file = std::get_if<std::string>(&result);
        answer(file ? ports->relative(*file) : std::get<RecordingFailure>(result).description());
    };
    if (command == "start") recorder->start(done);
    if (command == "pause") recorder->pause(done);
    if (command == "resume") recorder->resume(done);
    if (command == "stop") recorder->stop(path);
    if (command == "discard") recorder->discard(at(argument).string(), done);
    if (command == "pending") {
        recorder->pending([this, answer](std::variant<std::optional<std::string>, RecordingFailure> result) {
            const auto* found = std::get_if<std::optional<std::string>>(&result);
            answer(!found ? std::get<RecordingFailure>(result).description() : *found ? ports->relative(**found) : "none");
        });
    }
    return answered;
}

inline void RecorderScriptRunner::perform(const std::string& step) {
    const auto space = step.find(' ');
    std::string word = step.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : step.substr(space + 1);
    const auto drain = [this] { recorder->queue().sync([] {}); };
    const auto knob = [this](auto change) {
        std::lock_guard lock(ports->mutex);
        change(*ports);
    };

    if (word.ends_with("&")) {
        send(word.substr(0, word.size() - 1), rest);
    } else if (word == "start" || word == "pause" || word == "resume" || word == "stop" || word == "pending" ||
               word == "discard") {
        auto answered = send(word, rest);
        settle([answered] { return *answered; });
    } else if (word == "wait") {
        settle([this] { return unanswered == 0; });
    } else if (word == "await") {
        settle([&] {
            std::lock_guard lock(ports->mutex);
            auto& trace = ports->trace;
            auto found = std::find_if(trace.begin() + static_cast<long>(std::min(awaited, trace.size())), trace.end(),
                                      [&](const std::string& line) { return line.starts_with(rest); });
            if (found == trace.end()) return false;
            awaited = static_cast<std::size_t>(found - trace.begin()) + 1;
            return true;
        });
    } else if (word == "run") {
        const float level = 0.1f;
        for (int s = 0; s < std::stoi(rest); ++s) {
            if (loud_) signals->heard(RecordingSignals::Input::microphone, &level, 1);
            clock->advance(std::chrono::seconds(1));
            // Twice: what a timer's handler queued runs too.
            drain();
            drain();
            mainLoop->runUntilIdle();
        }
    } else if (word == "quiet" || word == "loud") {
        loud_ = word == "loud";
    } else if (word == "mute" || word == "unmute") {
        signals->setMicrophoneMuted(word == "mute");
    } else if (word == "writeFails") {
        signals->writeFailed(rest), drain(), mainLoop->runUntilIdle();
    } else if (word == "free") {
        knob([&](auto& p) { p.freeBytes = std::stoull(rest); });
    } else if (word == "rm") {
        std::filesystem::remove_all(at(rest));
    } else if (word == "began" || word == "ended" || word == "odd") {
        if (word == "odd") ports->interrupt(std::nullopt), ports->interrupt(7);
        else ports->interrupt(word == "began" ? AudioInterruption::kBegan : AudioInterruption::kEnded);
        drain();
    } else if (word == "exit") {
        recorder->closeForExit();
    } else if (word == "recording?") {
        ports->note(recorder->isRecording() ? "recording" : "idle");
    } else if (word == "ls") {
        drain();
        ports->note("ls:" + listing());
    } else if (word == "file" || word == "segment") {
        const auto cut = rest.find(' ');
        const std::string text = cut == std::string::npos ? "" : rest.substr(cut + 1);
        writeFile(at(rest.substr(0, cut)), word == "segment" ? "seconds " + text : text);
    } else if (word == "link") {
        const auto cut = rest.find(' ');
        std::filesystem::create_directory_symlink(at(rest.substr(cut + 1)), at(rest.substr(0, cut)));
    } else if (word == "deny") {
        knob([](auto& p) { p.granted = false; });
    } else if (word == "refuse" || word == "accept") {
        knob([&](auto& p) { p.refuseToRecord = word == "refuse"; });
    } else if (word == "createFails") {
        knob([&](auto& p) { p.createFailure = rest.empty() ? std::nullopt : std::optional(SystemError{rest}); });
    } else if (word == "activateFails" || word == "activateOk") {
        knob([&](auto& p) { p.activateFailure = rest.empty() ? std::nullopt : std::optional(SystemError{rest}); });
    } else if (word == "joinFails") {
        using Kind = AudioJoiner::Failure::Kind;
        const Kind kind = rest == "noTrack" ? Kind::noTrack : rest == "noExportSession" ? Kind::noExportSession : Kind::failed;
        knob([&](auto& p) { p.joinFailure = AudioJoiner::Failure{kind, kind == Kind::failed ? rest : ""}; });
    } else if (word == "holdJoin") {
        knob([](auto& p) { p.holdJoins = true; });
    } else if (word == "releaseJoin") {
        ports->releaseJoins();
    } else if (word == "diskFails") {
        knob([](auto& p) { p.diskFails = true; });
    } else if (word == "capture" || word == "mixable") {
        knob([&](auto& p) { (word == "capture" ? p.captureSupported : p.mixable) = true; });
    } else if (word == "captureFails") {
        knob([&](auto& p) { p.captureFailure = RecordingFailure(SystemError{rest}); });
    } else if (word == "holdStart") {
        knob([](auto& p) { p.holdStart = true; });
    } else if (word == "finishStart") {
        // The start's answer queues the stops that waited for it: both drains let them run.
        ports->finishStart();
        drain();
        drain();
    } else if (word == "finishStop") {
        if (rest.starts_with("fail:")) ports->finishStop(RecordingFailure(SystemError{rest.substr(5)}));
        else ports->finishStop(at(rest));
    } else if (word == "finalize") {
        const auto cut = rest.find(' ');
        knob([&](auto& p) { p.finalizeAs[rest.substr(0, cut)] = rest.substr(cut + 1); });
    } else {
        FAIL() << "unknown step " << step;
    }
}

// Every file and empty directory under the home directory, relative to the recordings directory and in
// name order; " -" when there is none.
inline std::string RecorderScriptRunner::listing() const {
    std::vector<std::string> names;
    std::error_code error;
    for (auto entry = std::filesystem::recursive_directory_iterator(home.path(), error);
         !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
        const bool leaf = !entry->is_directory() || std::filesystem::is_empty(entry->path());
        if (leaf && entry->path() != root()) names.push_back(ports->relative(entry->path()));
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto& name : names) text += " " + name;
    return names.empty() ? " -" : text;
}

}  // namespace orvan::testing
