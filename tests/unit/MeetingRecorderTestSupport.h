#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "recording/MeetingRecorder.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeRecordingPorts.h"
#include "tests/fakes/ManualClock.h"
#include "tests/support/TempDirectory.h"

namespace orvan::testing {

// A recorder on fakes of every port, with the recordings directory in a fresh temporary directory.
// Commands are sent as the page sends them and their completions are collected from the fake main
// loop; the clock moves only when the test moves it.
class MeetingRecorderFixture : public ::testing::Test {
protected:
    using Failure = std::optional<RecordingFailure>;
    using PathResult = std::variant<std::string, RecordingFailure>;
    using PendingResult = std::variant<std::optional<std::string>, RecordingFailure>;

    MeetingRecorderFixture() { log = CapturingLogSink::install(); }
    ~MeetingRecorderFixture() override {
        recorder.reset();
        setLogSink(nullptr);
    }

    void SetUp() override { makeRecorder(); }

    void makeRecorder() {
        systemAudio->isSupported = false;
        recorder = MeetingRecorder::create(MeetingRecorderPorts{
            .applicationIdentifier = "jp.tomoriva.OrvanOffice",
            .mainLoop = mainLoop,
            .clock = clock,
            .permission = permission,
            .audioSession = session,
            .interruptions = interruptions,
            .segments = segments,
            .joiner = joiner,
            .systemAudio = systemAudio,
            .alerts = alerts,
            .recordingsDirectory = recordings(),
            .newUUID = [this] { return nextUUID(); },
            .rotationInterval = std::chrono::seconds(300),
        });
    }

    std::filesystem::path recordings() const { return home.path() / "OrvanOffice" / "recordings"; }

    // Distinct lower-case UUIDs, in increasing order.
    std::string nextUUID() {
        char id[40];
        std::snprintf(id, sizeof id, "5e55a0d1-0000-4000-8000-%012d", ++uuids);
        return id;
    }

    // Runs the fake main loop until `done` holds; the recorder's queue and jobs run on their own threads.
    bool settle(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            mainLoop->runUntilIdle();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    Failure start() { return call<Failure>([this](auto done) { recorder->start(done); }); }
    Failure pause() { return call<Failure>([this](auto done) { recorder->pause(done); }); }
    Failure resume() { return call<Failure>([this](auto done) { recorder->resume(done); }); }
    PathResult stop() { return call<PathResult>([this](auto done) { recorder->stop(done); }); }
    PendingResult pending() { return call<PendingResult>([this](auto done) { recorder->pending(done); }); }
    Failure discard(const std::string& path) {
        return call<Failure>([this, &path](auto done) { recorder->discard(path, done); });
    }

    template <typename Result>
    Result call(const std::function<void(std::function<void(Result)>)>& command) {
        std::optional<Result> result;
        int completions = 0;
        command([&](Result r) {
            result = std::move(r);
            ++completions;
        });
        EXPECT_TRUE(settle([&] { return completions > 0; })) << "the command never completed";
        mainLoop->runUntilIdle();
        EXPECT_EQ(completions, 1) << "every command completes exactly once";
        return result.value_or(Result{});
    }

    // Moves the fake clock in one-second steps, letting the queue run each timer that falls due.
    void runFor(std::chrono::seconds duration) {
        for (std::chrono::seconds s{0}; s < duration; ++s) {
            clock->advance(std::chrono::seconds(1));
            recorder->queue().sync([] {});
        }
    }

    // Lets queued interruption handling run.
    void drainQueue() { recorder->queue().sync([] {}); }

    std::vector<std::filesystem::path> sessionDirectories() const {
        std::vector<std::filesystem::path> dirs;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(recordings(), error)) dirs.push_back(entry.path());
        return dirs;
    }

    static std::string text(const Failure& failure) { return failure ? failure->description() : "(success)"; }
    static std::string text(const PathResult& result) {
        if (const auto* path = std::get_if<std::string>(&result)) return *path;
        return "error: " + std::get<RecordingFailure>(result).description();
    }
    static std::string text(const PendingResult& result) {
        if (const auto* path = std::get_if<std::optional<std::string>>(&result)) return path->value_or("(none)");
        return "error: " + std::get<RecordingFailure>(result).description();
    }

    TempDirectory home{"orvan-recorder"};
    std::shared_ptr<CapturingLogSink> log;
    std::shared_ptr<FakeMainLoop> mainLoop = std::make_shared<FakeMainLoop>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeRecordPermission> permission = std::make_shared<FakeRecordPermission>();
    std::shared_ptr<FakeAudioSession> session = std::make_shared<FakeAudioSession>();
    std::shared_ptr<FakeInterruptions> interruptions = std::make_shared<FakeInterruptions>();
    std::shared_ptr<FakeSegmentRecorder> segments = std::make_shared<FakeSegmentRecorder>(clock);
    std::shared_ptr<FakeAudioJoiner> joiner = std::make_shared<FakeAudioJoiner>();
    std::shared_ptr<FakeSystemAudio> systemAudio = std::make_shared<FakeSystemAudio>();
    std::shared_ptr<FakeAlertPresenter> alerts = std::make_shared<FakeAlertPresenter>();
    std::shared_ptr<MeetingRecorder> recorder;
    int uuids = 0;
};

}  // namespace orvan::testing
