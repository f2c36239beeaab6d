#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "platform/BackgroundJobs.h"
#include "platform/MainLoop.h"
#include "platform/SystemError.h"
#include "recording/RecorderCommands.h"

namespace orvan {

// The meeting recorder made at its first command instead of at start-up: what it stands on (the
// sound server's client, the encoder and its many libraries) then costs no memory until someone
// records. Making it reads those libraries from disk, so it happens on a thread of its own while the
// windows go on; commands that come meanwhile wait for it, in order. A recorder that cannot be made
// answers each waiting command with why, and the next command tries again. `Recorder` is the
// meeting recorder; tests put a stand-in there. Commands and completions: main loop only.
template <typename Recorder>
class RecorderOnFirstUse final : public RecorderCommands {
public:
    using Made = std::variant<std::shared_ptr<Recorder>, SystemError>;
    RecorderOnFirstUse(std::function<Made()> make, std::shared_ptr<MainLoop> mainLoop)
        : make_(std::move(make)), mainLoop_(std::move(mainLoop)) {}
    ~RecorderOnFirstUse() override = default;
    RecorderOnFirstUse(const RecorderOnFirstUse&) = delete;
    RecorderOnFirstUse& operator=(const RecorderOnFirstUse&) = delete;

    void start(Done done) override {
        withRecorder(std::move(done), [](Recorder& r, auto d) { r.start(std::move(d)); });
    }
    void pause(Done done) override {
        withRecorder(std::move(done), [](Recorder& r, auto d) { r.pause(std::move(d)); });
    }
    void resume(Done done) override {
        withRecorder(std::move(done), [](Recorder& r, auto d) { r.resume(std::move(d)); });
    }
    void stop(PathDone done) override {
        withRecorder(std::move(done), [](Recorder& r, auto d) { r.stop(std::move(d)); });
    }
    void pending(PendingDone done) override {
        withRecorder(std::move(done), [](Recorder& r, auto d) { r.pending(std::move(d)); });
    }
    void discard(const std::string& path, Done done) override {
        withRecorder(std::move(done), [path](Recorder& r, auto d) { r.discard(path, std::move(d)); });
    }

    // For the application's exit: a recorder still being made is waited for. Blocks.
    void closeForExit() {
        jobs_.waitForAll();
        std::shared_ptr<Recorder> recorder = state_->recorder;
        if (!recorder) {
            const std::lock_guard lock(state_->mutex);
            if (auto* made = std::get_if<std::shared_ptr<Recorder>>(&state_->lastMade)) recorder = *made;
        }
        if (recorder) recorder->closeForExit();
    }

private:
    // Runs a waiting command with the recorder, or answers it with why there is none.
    using Waiting = std::function<void(Recorder*, const SystemError*)>;
    // Shared with the loading thread and what it posts back, which may outlive this object.
    struct State {
        std::shared_ptr<Recorder> recorder;
        bool loading = false;
        std::vector<Waiting> waiting;
        std::mutex mutex;  // guards lastMade, which the loading thread writes
        Made lastMade = SystemError{};
    };

    template <typename Completion, typename Command>
    void withRecorder(Completion done, Command command) {
        if (state_->recorder) {
            command(*state_->recorder, std::move(done));
            return;
        }
        state_->waiting.push_back([done = std::move(done), command](Recorder* recorder, const SystemError* failure) mutable {
            if (recorder != nullptr) command(*recorder, std::move(done));
            else done(RecordingFailure(*failure));
        });
        load();
    }

    void load() {
        if (state_->loading) return;
        state_->loading = true;
        std::weak_ptr<State> weak = state_;
        jobs_.run([make = make_, mainLoop = mainLoop_, weak] {
            Made made = make();
            if (auto state = weak.lock()) {
                const std::lock_guard lock(state->mutex);
                state->lastMade = made;
            }
            mainLoop->post([weak, made = std::move(made)] {
                if (auto state = weak.lock()) loaded(*state, made);
            });
        });
    }

    static void loaded(State& state, const Made& made) {
        state.loading = false;
        const auto* recorder = std::get_if<std::shared_ptr<Recorder>>(&made);
        if (recorder != nullptr) state.recorder = *recorder;
        for (auto& waiting : std::exchange(state.waiting, {})) {
            waiting(recorder != nullptr ? recorder->get() : nullptr,
                    recorder != nullptr ? nullptr : &std::get<SystemError>(made));
        }
    }

    std::function<Made()> make_;
    std::shared_ptr<MainLoop> mainLoop_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    // Last member: its destructor waits for the loading thread.
    BackgroundJobs jobs_;
};

}  // namespace orvan
